// The main window as the application benchmarks drive it: made, shown and
// waited for until its lists and local information are in.
#pragma once

#include <QCoreApplication>
#include <QEventLoop>

#include "AppBench.h"
#include "ui/uMain.h"
#include "vcl/ActnList.h"

// A new main window, shown; ready says whether it became ready to hide
// within 20 s.
inline TfrmMain* ShowMainWindow(bool& ready) {
  auto* w = new TfrmMain;
  w->AfterConstruction();
  w->show();
  ready = appbench::WaitFor(
      [&] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return w->FLocalInfoGot && !w->tmrInit->Running();
      },
      20000);
  return w;
}
