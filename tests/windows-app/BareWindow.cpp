// The floor of the Windows start-up benchmark (bench/windows-startup-vs-floor):
// a bare Qt widgets window built with the same Qt as Veilgate.exe and run
// the same way, which quits as soon as it has been shown, as the program
// does with VEILGATE_QUIT_WHEN_SHOWN.
#include <QApplication>
#include <QTimer>
#include <QWidget>

namespace {
class Window : public QWidget {
 protected:
  void showEvent(QShowEvent*) override { QTimer::singleShot(0, qApp, &QCoreApplication::quit); }
};
}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  Window w;
  w.setWindowTitle(QStringLiteral("Bare Qt window"));
  w.resize(534, 317);
  w.show();
  return app.exec();
}
