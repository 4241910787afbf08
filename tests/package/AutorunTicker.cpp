// Loaded into the installed program with LD_PRELOAD by the package test: once
// the file named by VG_TEST_TICK_FILE exists, it ticks the main window's
// "Launch On Startup" box the way a click does, so that the program itself
// writes its autostart entry. Without the variable it does nothing.
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QTimer>

namespace {
void WatchForTick() {
  const QString trigger = qEnvironmentVariable("VG_TEST_TICK_FILE");
  if (trigger.isEmpty() || !qobject_cast<QApplication*>(QCoreApplication::instance())) return;
  auto* timer = new QTimer(QCoreApplication::instance());
  QObject::connect(timer, &QTimer::timeout, [timer, trigger] {
    if (!QFile::exists(trigger)) return;
    for (QWidget* w : QApplication::allWidgets()) {
      auto* box = qobject_cast<QCheckBox*>(w);
      if (!box || box->objectName() != QLatin1String("cbAutorun")) continue;
      timer->stop();
      if (!box->isChecked()) box->click();
      return;
    }
  });
  timer->start(50);
}
}  // namespace

Q_COREAPP_STARTUP_FUNCTION(WatchForTick)
