// The one QApplication of a UI test program (offscreen by default), and
// driving it without a person: waiting with the event loop running,
// answering modal windows, pressing keys.
#pragma once

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "framework/CLSettings.h"
#include "support/Sandbox.h"
#include "support/Wait.h"

inline QApplication* TestApp() {
  static int argc = 1;
  static char arg0[] = "test_ui";
  static char* argv[] = {arg0, nullptr};
  static QApplication* app = QApplication::instance()
                                 ? static_cast<QApplication*>(QApplication::instance())
                                 : new QApplication(argc, argv);
  return app;
}

// Fixture of the window tests: a sandbox with the application object, and
// the settings store let go afterwards.
class UiSandboxTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    TestApp();
  }
  void TearDown() override {
    ReleaseCLSettings();
    SandboxTest::TearDown();
  }
};

// Runs the event loop until pred holds or timeoutMs passes.
inline bool ProcessUntil(const std::function<bool()>& pred, int timeoutMs = 5000) {
  return testsupport::WaitUntil(
      [&] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return pred();
      },
      timeoutMs, 1);
}
inline bool Until(const std::function<bool()>& pred, int timeoutMs = 5000) {
  return ProcessUntil(pred, timeoutMs);
}

// Runs the event loop until every event posted so far has been handled (a
// marker posted now has run): what the program does in reply to them has
// had its chance before a test checks that something did not happen.
inline bool ProcessPosted(int timeoutMs = 30000) {
  auto ran = std::make_shared<bool>(false);
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [ran] { *ran = true; }, Qt::QueuedConnection);
  return ProcessUntil([ran] { return *ran; }, timeoutMs);
}

// Calls action with the modal window as soon as one is open (from inside
// its modal loop). Gives up after timeoutMs.
inline void WhenModal(std::function<void(QWidget*)> action, int timeoutMs = 30000) {
  auto* timer = new QTimer;
  const auto started = std::chrono::steady_clock::now();
  QObject::connect(timer, &QTimer::timeout, [timer, action, started, timeoutMs] {
    QWidget* w = QApplication::activeModalWidget();
    const bool late =
        std::chrono::steady_clock::now() - started > std::chrono::milliseconds(timeoutMs);
    if (!w && !late) return;
    timer->stop();
    timer->deleteLater();
    if (w) action(w);
  });
  timer->start(5);
}

// A key press and release as the keyboard gives them to the focused control.
inline void PressKey(QWidget* window, int key) {
  QWidget* target = window->focusWidget() ? window->focusWidget() : window;
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QApplication::sendEvent(target, &release);
}

// Writes the splash picture a start reads from the sandbox's program folder:
// a rounded rectangle of one colour with transparent corners.
inline bool WriteRoundedSplash(Sandbox& sb, QSize size, QColor colour, qreal radius) {
  std::filesystem::create_directories(sb.Path("app/res/images"));
  QImage rounded(size, QImage::Format_ARGB32);
  rounded.fill(Qt::transparent);
  {
    QPainter p(&rounded);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)), radius, radius);
  }
  return rounded.save(QString::fromStdString(sb.Path("app/res/images/splash.png")), "PNG");
}
