// The floor of the Windows start-up benchmark: a bare Qt widgets window
// built with the same Qt as Veilgate.exe and run the same way. It shows one
// label and, like the program under test, stays until it is closed.
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QLabel label(QStringLiteral("Bare Qt window"));
  label.setWindowTitle(QStringLiteral("Bare Qt window"));
  label.resize(534, 400);
  label.show();
  return app.exec();
}
