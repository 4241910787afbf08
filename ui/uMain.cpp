#include "ui/uMain.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>

#include <cstdlib>

#include "framework/CLDebugLog.h"
#include "framework/CLEngine.h"

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent) {
  setObjectName("frmMain");
  setWindowTitle("Veilgate");
  resize(360, 240);
  FStatus = new QLabel(this);
  FStatus->setObjectName("lblStatus");
  FStatus->setAlignment(Qt::AlignCenter);
  setCentralWidget(FStatus);

  FEngine = new TCLEngine(this, "TfrmMain");
  FEngine->OnCmdFile = [this](const std::string& s) { CLEngineCmdFile(s); };
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::CLEngineCmdFile(const std::string& strFileName) {
  CLDebugLog::Write("TfrmMain", "OnCmdFile: " + strFileName);
  FStatus->setText(QString::fromStdString(strFileName));
}

void TfrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  CLDebugLog::Write("TfrmMain", "Main window shown");
  // The start-up benchmark measures the time to the first showing.
  static bool first = true;
  if (first && std::getenv("VEILGATE_QUIT_WHEN_SHOWN")) {
    first = false;
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
  }
}
