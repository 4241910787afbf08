// Work a window puts off until it is on the screen: start-up work the window
// does not need to appear (the network requests, the update check) waits
// for its first painting, or for the loop when the window is not shown.
#include <gtest/gtest.h>

#include <QPaintEvent>
#include <QTimer>
#include <QWindow>

#include <string>
#include <vector>

#include "QtTestApp.h"
#include "vcl/Forms.h"

namespace {

// A control that notes when it has been painted.
class PaintMark : public QWidget {
 public:
  using QWidget::QWidget;
  bool painted = false;

 protected:
  void paintEvent(QPaintEvent*) override { painted = true; }
};

class FirstPaintTest : public UiSandboxTest {};

TEST_F(FirstPaintTest, WorkRunsOnceAfterTheWindowIsPaintedInTheOrderAsked) {
  TForm* form = CreateForm<TForm>();
  form->SetClientSize(200, 100);
  auto* mark = new PaintMark(form->ClientArea());
  mark->setGeometry(0, 0, 200, 100);
  std::vector<std::string> ran;
  bool paintedFirst = false;
  form->AfterFirstPaint([&] {
    paintedFirst = mark->painted;
    ran.push_back("first");
  });
  form->AfterFirstPaint([&] { ran.push_back("second"); });
  form->show();
  // Showing does not run it; the window's painting comes first.
  EXPECT_TRUE(ran.empty());
  ASSERT_TRUE(ProcessUntil([&] { return ran.size() == 2; }));
  EXPECT_TRUE(paintedFirst);
  EXPECT_TRUE(form->windowHandle()->isExposed());
  EXPECT_EQ(ran, (std::vector<std::string>{"first", "second"}));

  // Asked for after the first painting: the next turn of the loop, not at once.
  form->AfterFirstPaint([&] { ran.push_back("later"); });
  EXPECT_EQ(ran.size(), 2u);
  ASSERT_TRUE(ProcessUntil([&] { return ran.size() == 3; }));

  // Nothing runs twice, the wait for a window never exposed included.
  bool waited = false;
  QTimer::singleShot(TForm::kFirstPaintWaitMs + 20, [&] { waited = true; });
  ASSERT_TRUE(ProcessUntil([&] { return waited; }));
  EXPECT_EQ(ran, (std::vector<std::string>{"first", "second", "later"}));
  delete form;
}

TEST_F(FirstPaintTest, AWindowNotShownRunsItWhenTheLoopTurnsAndAFreedOneNever) {
  // A start into the tray: the window stays hidden, the work still runs.
  TForm* hidden = CreateForm<TForm>();
  bool ran = false;
  hidden->AfterFirstPaint([&] { ran = true; });
  EXPECT_FALSE(ran);
  ASSERT_TRUE(ProcessUntil([&] { return ran; }));
  EXPECT_FALSE(hidden->isVisible());
  delete hidden;

  // A window freed before: its work is dropped with it.
  TForm* gone = CreateForm<TForm>();
  bool goneRan = false;
  gone->AfterFirstPaint([&] { goneRan = true; });
  gone->show();
  delete gone;
  bool waited = false;
  QTimer::singleShot(TForm::kFirstPaintWaitMs + 20, [&] { waited = true; });
  ASSERT_TRUE(ProcessUntil([&] { return waited; }));
  EXPECT_FALSE(goneRan);
}

}  // namespace
