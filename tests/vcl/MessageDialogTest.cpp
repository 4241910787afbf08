// The message dialog: buttons and their order, result codes, Enter and
// Escape, the check box and its extra height, captions from the string
// table, and the engine's boxes through the real dialog.
#include <gtest/gtest.h>

#include "QtTestApp.h"
#include "EngineHostWindow.h"
#include "vcl/Controls.h"

#include <QCheckBox>
#include <QMenu>
#include <QPushButton>

#include <algorithm>

#include "framework/CLSettings.h"
#include "framework/qt/windows/CLMessageBox.h"
#include "support/Sandbox.h"
#include "vcl/spMessage.h"

namespace {

class MessageDialogTest : public UiSandboxTest {
 protected:
  // Shows a box and answers it with a key once it is open; what the dialog
  // looked like is recorded.
  struct Seen {
    std::vector<std::string> names;     // buttons left to right
    std::vector<std::string> captions;  // their captions
    std::string focused;
    std::string checkText;
    bool hasCheck = false;
    bool checked = false;
    int clientHeight = 0;
  };
  int Answer(TspSkinMessage& m, unsigned buttons, int key, Seen* seen = nullptr, bool tick = false,
             const std::string& text = "Message text") {
    WhenModal([=](QWidget* w) {
      auto* form = dynamic_cast<TForm*>(w);
      if (seen && form) {
        QList<QPushButton*> bs = form->findChildren<QPushButton*>();
        std::sort(bs.begin(), bs.end(),
                  [](QPushButton* a, QPushButton* b) { return a->x() < b->x(); });
        for (QPushButton* b : bs) {
          seen->names.push_back(b->objectName().toStdString());
          seen->captions.push_back(b->text().toStdString());
        }
        if (w->focusWidget()) seen->focused = w->focusWidget()->objectName().toStdString();
        auto* check = w->findChild<QCheckBox*>("checkbox");
        seen->hasCheck = check != nullptr;
        if (check) {
          seen->checked = check->isChecked();
          seen->checkText = check->text().toStdString();
          if (tick) check->setChecked(true);
        }
        seen->clientHeight = form->ClientHeight();
      }
      PressKey(w, key);
    });
    return m.MessageDlg2(text, "Veilgate", mtInformation, buttons, 0);
  }
};

}  // namespace

TEST_F(MessageDialogTest, OkCancelAnswerEnterAndEscape) {
  TspSkinMessage m(nullptr);
  Seen seen;
  EXPECT_EQ(Answer(m, mbOK | mbCancel, Qt::Key_Return, &seen), mrOk);
  EXPECT_EQ(seen.names, (std::vector<std::string>{"OK", "Cancel"}));
  EXPECT_EQ(seen.captions, (std::vector<std::string>{"OK", "Cancel"}));
  EXPECT_EQ(seen.focused, "OK");
  EXPECT_FALSE(seen.hasCheck);
  EXPECT_EQ(Answer(m, mbOK | mbCancel, Qt::Key_Escape), mrCancel);
  // Enter on a focused button presses that button.
  WhenModal([](QWidget* w) {
    w->findChild<QPushButton*>("Cancel")->setFocus();
    PressKey(w, Qt::Key_Enter);
  });
  EXPECT_EQ(m.MessageDlg2("x", "y", mtWarning, mbOK | mbCancel, 0), mrCancel);
}

TEST_F(MessageDialogTest, YesNoDefaultsAndEveryKindInOrder) {
  TspSkinMessage m(nullptr);
  EXPECT_EQ(Answer(m, mbYes | mbNo, Qt::Key_Return), mrYes);
  EXPECT_EQ(Answer(m, mbYes | mbNo, Qt::Key_Escape), mrNo);
  // Retry is the default without OK and Yes; OK is the cancel button
  // without Cancel and No.
  EXPECT_EQ(Answer(m, mbAbort | mbRetry | mbIgnore, Qt::Key_Return), mrRetry);
  EXPECT_EQ(Answer(m, mbOK | mbAbort, Qt::Key_Escape), mrOk);

  Seen seen;
  EXPECT_EQ(Answer(m, 4095, Qt::Key_Escape, &seen), mrCancel);
  EXPECT_EQ(seen.names,
            (std::vector<std::string>{"Yes", "No", "OK", "Cancel", "Abort", "Retry", "Ignore",
                                      "All", "NoToAll", "YesToAll", "Help", "Close"}));
  EXPECT_EQ(seen.captions,
            (std::vector<std::string>{"&Yes", "&No", "OK", "Cancel", "&Abort", "&Retry", "&Ignore",
                                      "&All", "N&oToAll", "&YesToAll", "&Help", "Close"}));
  // The result codes of the kinds.
  int count = 0;
  const TMsgDlgButtonKind* kinds = MsgDlgButtonKinds(count);
  ASSERT_EQ(count, 12);
  const int results[] = {6, 7, 1, 2, 3, 4, 5, 8, 9, 10, 0, 11};
  for (int i = 0; i < count; ++i) EXPECT_EQ(kinds[i].Result, results[i]) << kinds[i].Name;
  // A click gives the button's own code.
  WhenModal([](QWidget* w) { w->findChild<QPushButton*>("NoToAll")->click(); });
  EXPECT_EQ(m.MessageDlg2("x", "y", mtConfirmation, mbYesToAll | mbNoToAll, 0), mrNoToAll);
}

TEST_F(MessageDialogTest, ShowAgainBoxMakesTheDialogTallerAndReportsBack) {
  TspSkinMessage m(nullptr);
  Seen plain, withBox;
  m.SetShowAgainFlag(false);
  Answer(m, mbOK, Qt::Key_Return, &plain);
  m.SetShowAgainFlag(true);
  m.SetShowAgainFlagValue(true);
  EXPECT_EQ(Answer(m, mbOK, Qt::Key_Return, &withBox), mrOk);
  EXPECT_TRUE(withBox.hasCheck);
  EXPECT_FALSE(withBox.checked);
  EXPECT_EQ(withBox.checkText, "Do not display this message again");
  EXPECT_EQ(withBox.clientHeight, plain.clientHeight + kShowAgainExtraHeight);
  EXPECT_TRUE(m.ShowAgainFlagValue());  // not ticked: still to be shown

  Seen ticked;
  EXPECT_EQ(Answer(m, mbOK | mbCancel, Qt::Key_Escape, &ticked, true), mrCancel);
  EXPECT_FALSE(m.ShowAgainFlagValue());

  // A value already false shows the box ticked.
  Seen pre;
  Answer(m, mbOK, Qt::Key_Return, &pre);
  EXPECT_TRUE(pre.checked);

  // Without the check box the value is left alone.
  m.SetShowAgainFlag(false);
  m.SetShowAgainFlagValue(false);
  Answer(m, mbOK, Qt::Key_Return);
  EXPECT_FALSE(m.ShowAgainFlagValue());
}

TEST_F(MessageDialogTest, BuiltInCaptionsSurviveALanguagesSkinRes) {
  TForm host;
  auto* strings = new TspResourceStrData(&host);
  auto* skin = new TspSkinData(&host);
  skin->SetResourceStrData(strings);
  TCLMultiLangData data(nullptr);
  data.LangCurrentData().LoadFromString(
      "[SkinRes]\nMSG_BTN_YES=&Ja\nMSG_BTN_NO=&Nein\nMSG_CAP_SHOWFLAG=Nicht mehr anzeigen\n"
      "MSG_NEW=Neu\n");
  data.GetSectionStrings("SkinRes", strings->ResStrings());

  TspSkinMessage m(&host);
  m.SetSkinData(skin);
  m.SetShowAgainFlag(true);
  Seen seen;
  EXPECT_EQ(Answer(m, mbYes | mbNo, Qt::Key_Return, &seen), mrYes);
  EXPECT_EQ(seen.captions, (std::vector<std::string>{"&Yes", "&No"}));
  EXPECT_EQ(seen.checkText, "Do not display this message again");
  EXPECT_EQ(strings->GetResStr("MSG_NEW"), "Neu");

  // An empty check box text in the table gives the built-in words.
  strings->ResStrings().SetValue("MSG_CAP_SHOWFLAG", "");
  strings->ResStrings().Add("MSG_CAP_SHOWFLAG=");
  Seen empty;
  Answer(m, mbOK, Qt::Key_Return, &empty);
  EXPECT_EQ(empty.checkText, "Do not display this message again");
  // A table that really changes a caption is followed.
  strings->ResStrings().SetValue("MSG_BTN_OK", "Okay");
  Seen changed;
  Answer(m, mbOK, Qt::Key_Return, &changed);
  EXPECT_EQ(changed.captions, (std::vector<std::string>{"Okay"}));
}

TEST_F(MessageDialogTest, EngineBoxTickedOnceThenSilent) {
  sb().WriteFile(
      "app/lang/English.lan",
      "[AppRes]\r\nAppName=Veilgate\r\nMSGBox.CloseNotify=Still running in the tray.\r\n");
  std::unique_ptr<TfrmEngineHost> w(CreateForm<TfrmEngineHost>());
  TCLEngine* e = w->CLEngine;
  std::string text, caption;
  WhenModal([&](QWidget* dlg) {
    caption = dlg->windowTitle().toStdString();
    auto* label = dlg->findChild<QLabel*>("Message");
    if (label) text = label->text().toStdString();
    dlg->findChild<QCheckBox*>("checkbox")->setChecked(true);
    PressKey(dlg, Qt::Key_Return);
  });
  EXPECT_EQ(e->ShowMessageEx("MSGBox.CloseNotify", {}, 6, 2, 4), mrOk);
  EXPECT_EQ(text, "Still running in the tray.");
  EXPECT_EQ(caption, "Veilgate");
  EXPECT_FALSE(GetCLSettings()->GetMessageShowAgainFlag(6));

  // No dialog opens any more: a watcher that would press Escape finds none.
  bool opened = false;
  WhenModal(
      [&](QWidget* dlg) {
        opened = true;
        PressKey(dlg, Qt::Key_Escape);
      },
      200);
  // A dialog would have held the call until the watcher closed it.
  EXPECT_EQ(e->ShowMessageEx("MSGBox.CloseNotify", {}, 6, 2, 4), mrOk);
  EXPECT_FALSE(opened);
  // The dialog component is one, on the engine's window, styled by its skin.
  TspSkinMessage* dlgComponent = e->SkinMessageBoxes()->MessageDlg();
  ASSERT_NE(dlgComponent, nullptr);
  EXPECT_EQ(dlgComponent->Owner(), w.get());
  EXPECT_EQ(dlgComponent->SkinData(), w->spSkinData);
}

TEST_F(MessageDialogTest, TimersTickWhileABoxIsOpen) {
  TForm owner;
  auto* timer = new TTimer(&owner);
  int ticks = 0;
  timer->SetInterval(10);
  timer->SetOnTimer([&](TTimer*) { ++ticks; });
  EXPECT_TRUE(timer->Running());
  TspSkinMessage m(nullptr);
  WhenModal([&](QWidget* dlg) {
    // Close the box once the timer has ticked a few times inside it.
    auto* closer = new QTimer(dlg);
    QObject::connect(closer, &QTimer::timeout, [&ticks, dlg] {
      if (ticks >= 3) PressKey(dlg, Qt::Key_Escape);
    });
    closer->start(5);
  });
  ticks = 0;
  EXPECT_EQ(m.MessageDlg2("x", "y", mtInformation, mbOK, 0), mrOk);
  EXPECT_GE(ticks, 3);
  timer->SetEnabled(false);
  EXPECT_FALSE(timer->Running());
}

namespace {

// A box belongs to the window the user works in: the visible window its
// component sits on, or a modal dialog open above it; a box of a window
// that is out of sight stands alone.
TEST_F(MessageDialogTest, TheBoxBelongsToTheWindowInUse) {
  std::unique_ptr<TForm> owner(CreateForm<TForm>());
  owner->SetName("frmOwner");
  TspSkinMessage m(owner.get());
  struct Case {
    const char* what;
    bool ownerShown;
    bool dialogOpen;
  };
  const Case cases[] = {
      {"owner shown", true, false},
      {"dialog above the owner", true, true},
      {"owner hidden", false, false},
  };
  // A menu is never the owner: with the owner's window shown the box goes
  // to that window, with it hidden to none, while the menu is open and
  // active.
  {
    QMenu menu;
    menu.addAction("item");
    owner->show();
    menu.popup(QPoint(0, 0));
    ASSERT_TRUE(Until([&] { return menu.isVisible(); }));
    QApplication::setActiveWindow(&menu);
    EXPECT_EQ(m.OwnerWindowOfBox(), owner.get());
    owner->hide();
    QApplication::setActiveWindow(&menu);
    EXPECT_EQ(m.OwnerWindowOfBox(), nullptr);
    menu.close();
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.ownerShown) {
      owner->show();
      ASSERT_TRUE(Until([&] { return owner->isVisible(); }));
    } else {
      owner->hide();
    }
    std::unique_ptr<TForm> dialog;
    if (c.dialogOpen) {
      dialog.reset(CreateForm<TForm>(owner.get()));
      dialog->setWindowModality(Qt::ApplicationModal);
      dialog->show();
      ASSERT_TRUE(Until([&] { return QApplication::activeModalWidget() == dialog.get(); }));
    }
    QWidget* expected = c.dialogOpen ? dialog.get() : c.ownerShown ? owner.get() : nullptr;
    EXPECT_EQ(m.OwnerWindowOfBox(), expected);
    QWidget* parent = reinterpret_cast<QWidget*>(1);
    WhenModal([&](QWidget* w) {
      if (w != dialog.get()) parent = w->parentWidget();
      PressKey(w, Qt::Key_Return);
    });
    EXPECT_EQ(m.MessageDlg2("Text", "Veilgate", mtInformation, mbOK, 0), mrOk);
    EXPECT_EQ(parent, expected);
  }
}

}  // namespace
