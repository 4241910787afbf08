// The main window.
#pragma once

#include <QMainWindow>

class TCLEngine;
class QLabel;

class TfrmMain : public QMainWindow {
  Q_OBJECT
 public:
  explicit TfrmMain(QWidget* parent = nullptr);
  ~TfrmMain() override;

  TCLEngine* CLEngine() const { return FEngine; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void CLEngineCmdFile(const std::string& strFileName);

  TCLEngine* FEngine = nullptr;
  QLabel* FStatus = nullptr;
};
