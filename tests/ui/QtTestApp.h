// The one QApplication of a UI test program (offscreen by default).
#pragma once

#include <QApplication>

inline QApplication* TestApp() {
  static int argc = 1;
  static char arg0[] = "test_ui";
  static char* argv[] = {arg0, nullptr};
  static QApplication* app = QApplication::instance()
                                 ? static_cast<QApplication*>(QApplication::instance())
                                 : new QApplication(argc, argv);
  return app;
}
