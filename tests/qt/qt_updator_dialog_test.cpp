// The whole dialog on Qt: window, view and hub over the loopback driver with
// a simulated pedal, as kv-updater runs it with KV_MIDI=sim. A run to the
// end, closing the dialog in each phase of a run, port names in code page
// 932 and the About item the hub adds.
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "midi/drivers/loopback_driver.h"
#include "midi/drivers/thread_timer_service.h"
#include "sim/midi_backend.h"
#include "tests/qt/qt_test_support.h"
#include "ui/message_texts.h"
#include "ui/qt/qt_updator_dialog.h"

namespace kv {
namespace {

const char kJapaneseName[] =
    "\x55\x53\x42\x20\x83\x49\x81\x5B\x83\x66\x83\x42\x83\x49\x20\x83\x66\x83\x6F\x83\x43\x83\x58";

// A worker that still runs when the window goes ends at its next wait; the
// hub is released soon after. Generous for sanitizer builds.
constexpr std::chrono::milliseconds kReleaseLimit{15000};

struct SimulatedServices {
  MidiServices services;
  std::shared_ptr<sim::SimulatedPedal> pedal;
};

SimulatedServices Simulated(const sim::Scenario& scenario = {}) {
  std::string error;
  sim::MidiBackend backend = sim::SimulatedBackend(scenario, error);
  EXPECT_NE(backend.driver, nullptr) << error;
  return {MidiServices{backend.driver, std::make_shared<midi::ThreadTimerService>()}, backend.pedal};
}

QString FieldText(UpdatorDialogWindow& window, int id) { return test::ControlOf<QLineEdit>(window, id)->text(); }

TEST(UpdatorDialogTest, RunOnTheSimulatedPedalCompletesAndLeavesExecuteDisabled) {
  SimulatedServices sim = Simulated();
  QtUpdatorDialog dialog(sim.services, 1);
  UpdatorDialogWindow& window = dialog.Window();
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  EXPECT_EQ(window.windowTitle(), QString::fromLatin1(TitleText));
  // Both ports preselected by the pedal's name.
  EXPECT_EQ(window.List(control::kInList)->currentText(), QStringLiteral("TARVO KV Series"));
  EXPECT_EQ(window.List(control::kOutList)->currentText(), QStringLiteral("TARVO KV Series"));

  QTest::keyClick(&window, Qt::Key_Return);  // Execute: the default button, with the focus
  ASSERT_TRUE(test::WaitFor([&] { return !window.Control(control::kExecute)->isEnabled(); }));
  EXPECT_FALSE(window.Control(control::kRescan)->isEnabled());
  EXPECT_TRUE(window.Control(control::kExit)->isEnabled());

  ASSERT_TRUE(test::WaitFor(
      [&] { return FieldText(window, control::kStatusField) == QStringLiteral("Version update completed."); },
      120000))
      << FieldText(window, control::kStatusField).toStdString();
  EXPECT_EQ(FieldText(window, control::kStepField), QStringLiteral("9/9"));
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_TRUE(sim.pedal->Verify().ok) << sim.pedal->Verify().line;
  // Controls restored, then Execute disabled: the last two calls of the run.
  ASSERT_TRUE(test::WaitFor([&] {
    return window.Control(control::kRescan)->isEnabled() && !window.Control(control::kExecute)->isEnabled();
  }));
  EXPECT_TRUE(window.Control(control::kInList)->isEnabled());

  QTest::mouseClick(window.Control(control::kRescan), Qt::LeftButton);
  EXPECT_TRUE(window.Control(control::kExecute)->isEnabled());

  QTest::mouseClick(window.Control(control::kExit), Qt::LeftButton);
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(dialog.ReleaseHub(kReleaseLimit));
}

// Exit in each phase of a run: the worker ends at its wait without any box,
// the window is gone and the hub is released. A box that is up goes with
// the dialog.
TEST(UpdatorDialogTest, ClosingInEachPhaseEndsTheRunWithoutAnotherBox) {
  struct Phase {
    const char* name;
    sim::Scenario scenario;
    std::function<bool(UpdatorDialogWindow&)> reached;  // null: close once the error box is up
  };
  sim::Scenario silent;
  silent.silent = true;
  sim::Scenario refusing;
  refusing.updateModeStatus = 11;
  sim::Scenario slowErase;
  slowErase.replyDelayMs = 200;
  const Phase phases[] = {
      {"waiting for the identity reply", silent,
       [](UpdatorDialogWindow& w) { return FieldText(w, control::kStepField) == QStringLiteral("0/9"); }},
      {"erasing", slowErase,
       [](UpdatorDialogWindow& w) { return FieldText(w, control::kStepField) == QStringLiteral("1/9"); }},
      {"writing", {},
       [](UpdatorDialogWindow& w) {
         return FieldText(w, control::kStatusField).startsWith(QStringLiteral("Data transmit"));
       }},
      {"under the error box", refusing, nullptr},
  };
  for (const Phase& phase : phases) {
    SCOPED_TRACE(phase.name);
    SimulatedServices sim = Simulated(phase.scenario);
    QtUpdatorDialog dialog(sim.services, 1);
    UpdatorDialogWindow& window = dialog.Window();
    window.show();
    QString boxText;
    if (!phase.reached) {
      test::WhenModalShows(&window, [&](QWidget* box) {
        boxText = qobject_cast<QMessageBox*>(box)->text();
        QTest::mouseClick(window.Control(control::kExit), Qt::LeftButton);  // blocked by the box
        window.close();                                                     // as the close box would
      });
    }
    QTest::mouseClick(window.Control(control::kExecute), Qt::LeftButton);
    if (phase.reached) {
      ASSERT_TRUE(test::WaitFor([&] { return phase.reached(window); }));
      QTest::mouseClick(window.Control(control::kExit), Qt::LeftButton);
    } else {
      ASSERT_TRUE(test::WaitFor([&] { return !window.isVisible(); }));
      EXPECT_EQ(boxText, QStringLiteral("Please use the firmware update mode."));
    }
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(dialog.ReleaseHub(kReleaseLimit));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(window.findChildren<QMessageBox*>().isEmpty());
  }
}

TEST(UpdatorDialogTest, PortNamesInCodePage932AreShownAndPreselected) {
  struct Row {
    int instance;
    int selected;
    const char* title;
  } rows[] = {{1, 1, "TARVO KV-12 v2.00 Updater"}, {2, -1, "TARVO KV-12 v2.00 Updater (2)"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.instance);
    const std::vector<std::string> names = {"Other MIDI port", kJapaneseName};
    MidiServices services{std::make_shared<midi::LoopbackDriver>(names, names),
                          std::make_shared<midi::ThreadTimerService>()};
    QtUpdatorDialog dialog(services, row.instance);
    UpdatorDialogWindow& window = dialog.Window();
    EXPECT_EQ(window.windowTitle(), QString::fromLatin1(row.title));
    for (int id : {control::kInList, control::kOutList}) {
      QComboBox* list = window.List(id);
      ASSERT_EQ(list->count(), 2);
      EXPECT_EQ(list->itemText(1), QStringLiteral(u"USB オーディオ デバイス"));
      EXPECT_EQ(list->currentIndex(), row.selected) << id;
    }
    EXPECT_TRUE(dialog.ReleaseHub(kReleaseLimit));
  }
}

TEST(UpdatorDialogTest, WindowMenuOpensTheAboutBoxWithTheUnnumberedTitle) {
  MidiServices services{std::make_shared<midi::LoopbackDriver>(std::vector<std::string>{}, std::vector<std::string>{}),
                        std::make_shared<midi::ThreadTimerService>()};
  QtUpdatorDialog dialog(services, 3);
  UpdatorDialogWindow& window = dialog.Window();
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  EXPECT_EQ(window.windowTitle(), QStringLiteral("TARVO KV-12 v2.00 Updater (3)"));

  QAction* about = window.findChild<QAction*>(QStringLiteral("windowCommand16"));
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(about->text(), QStringLiteral("About KV-14 Updater(&A)..."));
  EXPECT_TRUE(window.WindowMenu()->actions().contains(about));

  QString title;
  QString field;
  test::WhenModalShows(&window, [&](QWidget* box) {
    title = box->windowTitle();
    for (auto* edit : box->findChildren<QLineEdit*>()) {
      field = edit->text();
    }
    QTest::keyClick(box, Qt::Key_Return);  // OK
  });
  QTest::keyClick(&window, Qt::Key_F1);
  EXPECT_EQ(title, QStringLiteral("About KV-16 Updater"));
  EXPECT_EQ(field, QStringLiteral("TARVO KV-12 v2.00 Updater"));
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(dialog.ReleaseHub(kReleaseLimit));
}

}  // namespace
}  // namespace kv
