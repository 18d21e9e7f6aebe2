// The view's operations on the window, on the UI thread: lists that keep the
// raw device-name bytes, texts from code page 932, the 32-bit progress range,
// the window menu with its About item, the boxes, and the ways to close.
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/qt/qt_test_support.h"
#include "ui/qt/qt_dialog_view.h"

namespace kv {
namespace {

// "USB オーディオ デバイス" in code page 932.
const char kJapaneseName[] =
    "\x55\x53\x42\x20\x83\x49\x81\x5B\x83\x66\x83\x42\x83\x49\x20\x83\x66\x83\x6F\x83\x43\x83\x58";

struct Recorded {
  int executes = 0;
  int rescans = 0;
  std::vector<unsigned> commands;
  int destroyed = 0;
};

class ViewTest : public testing::Test {
 protected:
  ViewTest() : view_(std::make_shared<QtDialogView>(&window_)) {
    window_.SetCommands(DialogCommands{[this] { ++recorded_.executes; }, [this] { ++recorded_.rescans; },
                                       [this](unsigned id) { recorded_.commands.push_back(id); },
                                       [this] { ++recorded_.destroyed; }});
  }

  UpdatorDialogWindow window_;
  std::shared_ptr<QtDialogView> view_;
  Recorded recorded_;
};

TEST_F(ViewTest, ListsKeepTheRawBytesInOrderAndSelectNothingByThemselves) {
  const std::vector<std::string> names = {"TARVO KV Series", kJapaneseName, "B device", "A device", ""};
  for (int id : {control::kInList, control::kOutList}) {
    SCOPED_TRACE(id);
    view_->ClearList(id);
    for (const std::string& name : names) {
      view_->AddListEntry(id, name.c_str());
    }
    ASSERT_EQ(view_->ListCount(id), static_cast<int>(names.size()));
    EXPECT_EQ(view_->ListSelection(id), -1);
    QComboBox* list = window_.List(id);
    for (int i = 0; i < static_cast<int>(names.size()); ++i) {
      EXPECT_EQ(view_->ListEntry(id, i), names[static_cast<std::size_t>(i)]);
    }
    // Shown as text: ASCII unchanged, the Japanese name decoded, no sorting.
    EXPECT_EQ(list->itemText(0), QStringLiteral("TARVO KV Series"));
    EXPECT_EQ(list->itemText(1), QStringLiteral(u"USB オーディオ デバイス"));
    EXPECT_EQ(list->itemText(2), QStringLiteral("B device"));
    EXPECT_EQ(view_->ListEntry(id, 99), "");

    view_->SelectListEntry(id, 1);
    EXPECT_EQ(view_->ListSelection(id), 1);
    EXPECT_EQ(list->currentText(), QStringLiteral(u"USB オーディオ デバイス"));

    view_->ClearList(id);
    EXPECT_EQ(view_->ListCount(id), 0);
    EXPECT_EQ(view_->ListSelection(id), -1);
    view_->AddListEntry(id, "again");
    EXPECT_EQ(view_->ListSelection(id), -1);
  }
}

TEST_F(ViewTest, FieldsButtonsAndTitleShowTheirTexts) {
  view_->SetControlText(control::kStatusField, "Data transmit  2048 / 12288 ");
  view_->SetControlText(control::kStepField, "3/9");
  view_->SetTitle("TARVO KV-12 v2.00 Updater (3)");
  EXPECT_EQ(test::ControlOf<QLineEdit>(window_, control::kStatusField)->text(),
            QStringLiteral("Data transmit  2048 / 12288 "));
  EXPECT_EQ(test::ControlOf<QLineEdit>(window_, control::kStepField)->text(), QStringLiteral("3/9"));
  EXPECT_EQ(window_.windowTitle(), QStringLiteral("TARVO KV-12 v2.00 Updater (3)"));

  // Too long for the step field: it shows the beginning and scrolls.
  view_->SetControlText(control::kStepField, "a step text far longer than its field is wide");
  EXPECT_EQ(test::ControlOf<QLineEdit>(window_, control::kStepField)->cursorPosition(), 0);

  for (int id : {control::kInList, control::kOutList, control::kExecute, control::kRescan}) {
    view_->EnableControl(id, false);
    EXPECT_FALSE(window_.Control(id)->isEnabled()) << id;
    view_->EnableControl(id, true);
    EXPECT_TRUE(window_.Control(id)->isEnabled()) << id;
  }
}

TEST_F(ViewTest, ProgressBarHoldsThePlansWidestRange) {
  auto* bar = test::ControlOf<QProgressBar>(window_, control::kProgressBar);
  struct Row {
    std::int32_t low, high, pos, shown;
  } rows[] = {
      {0, 100, 0, 0},
      {0, 2912256, 2048, 2048},
      {0, 2912256, 2912256, 2912256},
      {0, 12288, 14336, 12288},  // beyond the range: clamped, as a native bar does
      {0, 12288, -5, 0},
  };
  for (const Row& row : rows) {
    view_->SetProgressRange(row.low, row.high);
    view_->SetProgressPos(row.pos);
    EXPECT_EQ(bar->minimum(), row.low);
    EXPECT_EQ(bar->maximum(), row.high);
    EXPECT_EQ(bar->value(), row.shown) << row.pos;
  }
}

TEST_F(ViewTest, IconsComeInThreeSizes) {
  view_->SetIcons();
  const QList<QSize> sizes = window_.windowIcon().availableSizes();
  for (int side : {48, 32, 16}) {
    EXPECT_TRUE(sizes.contains(QSize(side, side))) << side;
  }
}

TEST_F(ViewTest, WindowMenuItemAndF1SendTheAboutCommand) {
  ASSERT_TRUE(view_->HasWindowMenu());
  view_->AppendWindowMenuItem(kAboutCommandId, "About KV-14 Updater(&A)...");

  const QList<QAction*> actions = window_.WindowMenu()->actions();
  ASSERT_GE(actions.size(), 2);
  QAction* item = actions.back();
  EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
  EXPECT_EQ(item->text(), QStringLiteral("About KV-14 Updater(&A)..."));  // & marks A as the access key
  item->trigger();
  EXPECT_EQ(recorded_.commands, std::vector<unsigned>{16});

  window_.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
  QTest::keyClick(&window_, Qt::Key_F1);
  EXPECT_EQ(recorded_.commands, (std::vector<unsigned>{16, 16}));
  window_.reject();
}

TEST_F(ViewTest, ButtonsSendTheirCommands) {
  window_.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
  QTest::mouseClick(window_.Control(control::kExecute), Qt::LeftButton);
  QTest::keyClick(&window_, Qt::Key_Return);  // Execute is the default button
  QTest::mouseClick(window_.Control(control::kRescan), Qt::LeftButton);
  EXPECT_EQ(recorded_.executes, 2);
  EXPECT_EQ(recorded_.rescans, 1);
  EXPECT_TRUE(window_.isVisible());  // Execute never closes the dialog
  EXPECT_EQ(recorded_.destroyed, 0);
  window_.reject();
}

TEST_F(ViewTest, MessageBoxesAreModalOverTheDialogWithOneOkButton) {
  struct Row {
    BoxIcon icon;
    QMessageBox::Icon shown;
  } rows[] = {{BoxIcon::kError, QMessageBox::Critical}, {BoxIcon::kWarning, QMessageBox::Warning}};
  window_.show();
  for (const Row& row : rows) {
    bool checked = false;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(test::WaitForModal());
      ASSERT_NE(box, nullptr);
      EXPECT_EQ(box->icon(), row.shown);
      EXPECT_EQ(box->text(), QStringLiteral("Can't open MIDI Out device."));
      EXPECT_EQ(box->windowTitle(), QStringLiteral("Error"));
      EXPECT_EQ(box->parentWidget(), &window_);
      ASSERT_EQ(box->buttons().size(), 1);
      EXPECT_EQ(box->standardButton(box->buttons().front()), QMessageBox::Ok);
      checked = true;
      box->button(QMessageBox::Ok)->click();
    });
    view_->ShowMessageBox("Can't open MIDI Out device.", "Error", row.icon);
    EXPECT_TRUE(checked);
  }
  // Dismissed boxes are gone, not hidden.
  EXPECT_TRUE(window_.findChildren<QMessageBox*>().isEmpty());
  window_.reject();
}

TEST_F(ViewTest, AboutBoxShowsTheTitleTextItIsGiven) {
  window_.show();
  bool checked = false;
  QTimer::singleShot(0, [&] {
    QWidget* about = test::WaitForModal();
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->windowTitle(), QStringLiteral("About KV-16 Updater"));
    EXPECT_EQ(about->parentWidget(), &window_);
    QLineEdit* field = nullptr;
    for (auto* edit : about->findChildren<QLineEdit*>()) {
      if (edit->property(kControlIdProperty).toInt() == 1003) field = edit;
    }
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->text(), QStringLiteral("TARVO KV-12 v2.00 Updater"));
    checked = true;
    QTest::keyClick(about, Qt::Key_Escape);
  });
  view_->ShowAboutBox("TARVO KV-12 v2.00 Updater");
  EXPECT_TRUE(checked);
  EXPECT_TRUE(window_.isVisible());
  window_.reject();
}

// Every way out ends the dialog and reports the window's end exactly once;
// from then on the window takes no more calls.
TEST(ViewClosingTest, ExitEscapeCloseBoxAndMenuCloseEachEndTheWindowOnce) {
  const std::vector<std::pair<const char*, std::function<void(UpdatorDialogWindow&)>>> ways = {
      {"Exit", [](UpdatorDialogWindow& w) { QTest::mouseClick(w.Control(control::kExit), Qt::LeftButton); }},
      {"Escape", [](UpdatorDialogWindow& w) { QTest::keyClick(&w, Qt::Key_Escape); }},
      {"close box", [](UpdatorDialogWindow& w) { w.close(); }},
      {"menu Close", [](UpdatorDialogWindow& w) { w.WindowMenu()->actions().front()->trigger(); }},
      {"deleted", [](UpdatorDialogWindow&) {}},
  };
  for (const auto& [name, close] : ways) {
    SCOPED_TRACE(name);
    int destroyed = 0;
    int result = -2;
    auto window = std::make_unique<UpdatorDialogWindow>();
    auto view = std::make_shared<QtDialogView>(window.get());
    window->SetCommands(DialogCommands{{}, {}, {}, [&] { ++destroyed; }});
    QObject::connect(window.get(), &QDialog::finished, [&](int r) { result = r; });
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    close(*window);
    if (std::string(name) != "deleted") {
      EXPECT_TRUE(test::WaitFor([&] { return !window->isVisible(); }));
      EXPECT_EQ(result, QDialog::Rejected);
      EXPECT_EQ(destroyed, 1);
      EXPECT_FALSE(view->RunOnUiThread([] {}));
    }
    window.reset();
    EXPECT_EQ(destroyed, 1);
    // The view outlives the window harmlessly.
    bool ran = false;
    EXPECT_FALSE(view->RunOnUiThread([&] { ran = true; }));
    EXPECT_FALSE(ran);
    view->SetControlText(control::kStatusField, "ignored");
    EXPECT_EQ(view->ListSelection(control::kInList), -1);
  }
}

}  // namespace
}  // namespace kv
