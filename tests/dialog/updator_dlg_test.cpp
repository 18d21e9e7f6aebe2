// The dialog hub through the fake view, over the recording driver and timer
// service: construction, initialisation, the port lists, Execute and its
// failures, Rescan Device, the About item and the observer's marshalling.
#include "ui/updator_dlg.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "midi/drivers/recording_driver.h"
#include "midi/drivers/recording_timer_service.h"
#include "tests/dialog/fake_view.h"
#include "tests/dialog/test_support.h"
#include "ui/message_texts.h"

namespace kv {
namespace {

using midi::RecordingDriver;
using midi::RecordingTimerService;
using test::FakeView;
using test::MessageBoxRecord;
using Op = RecordingDriver::Op;

// Port closes and timer kills in one sequence, to see which comes first.
struct Sequence {
  std::mutex mutex;
  std::vector<std::string> events;
  void Add(std::string e) {
    std::lock_guard<std::mutex> lock(mutex);
    events.push_back(std::move(e));
  }
};

class SequencedDriver final : public RecordingDriver {
 public:
  SequencedDriver(std::vector<std::string> out, std::vector<std::string> in, std::shared_ptr<Sequence> seq)
      : RecordingDriver(std::move(out), std::move(in)), seq_(std::move(seq)) {}
  midi::MmResult OutClose(midi::MidiHandle h) override {
    seq_->Add("out close");
    return RecordingDriver::OutClose(h);
  }
  midi::MmResult InClose(midi::MidiHandle h) override {
    seq_->Add("in close");
    return RecordingDriver::InClose(h);
  }

 private:
  std::shared_ptr<Sequence> seq_;
};

class SequencedTimers final : public RecordingTimerService {
 public:
  explicit SequencedTimers(std::shared_ptr<Sequence> seq) : seq_(std::move(seq)) {}
  std::uint32_t KillEvent(std::uint32_t id) override {
    seq_->Add("timer kill");
    return RecordingTimerService::KillEvent(id);
  }

 private:
  std::shared_ptr<Sequence> seq_;
};

const std::string kJapaneseName =
    "\x55\x53\x42\x20\x83\x49\x81\x5B\x83\x66\x83\x42\x83\x49\x20\x83\x66\x83\x6F\x83\x43\x83\x58";

class HubTest : public ::testing::Test {
 protected:
  void Make(int instance = 1, std::vector<std::string> out = {"Out A", "Out B", "TARVO KV Series"},
            std::vector<std::string> in = {"TARVO KV Series", "In B"}) {
    driver = std::make_shared<SequencedDriver>(std::move(out), std::move(in), sequence);
    timers = std::make_shared<SequencedTimers>(sequence);
    hub = CTx3UpdatorDlg::Create(driver, timers, view, instance, ScaledTimes(1000));
  }
  void TearDown() override {
    if (hub) {
      std::vector<std::weak_ptr<void>> services{driver, timers};
      driver.reset();
      timers.reset();
      EXPECT_TRUE(test::CloseAndRelease(*view, hub, services));
    }
    EXPECT_EQ(view->ThreadViolations(), 0);
  }
  std::vector<std::string> EnableLog() const {
    std::vector<std::string> out;
    for (const std::string& e : view->Log()) {
      if (e.rfind("enable ", 0) == 0) out.push_back(e);
    }
    return out;
  }

  std::shared_ptr<Sequence> sequence = std::make_shared<Sequence>();
  std::shared_ptr<FakeView> view = std::make_shared<FakeView>();
  std::shared_ptr<SequencedDriver> driver;
  std::shared_ptr<SequencedTimers> timers;
  std::shared_ptr<CTx3UpdatorDlg> hub;
};

TEST_F(HubTest, ConstructionOpensNothingAndStartsNothing) {
  Make();
  EXPECT_EQ(driver->OpenOutDevices(), 0);
  EXPECT_EQ(driver->OpenInDevices(), 0);
  EXPECT_TRUE(timers->RunningEvents().empty());
  EXPECT_EQ(hub->Engine().Signal().status.load(), 0);
  EXPECT_EQ(hub->Busy(), 0);
  EXPECT_FALSE(hub->Engine().Signal().Wait(0));  // unsignalled
  EXPECT_TRUE(view->Log().empty());
}

TEST_F(HubTest, InitialisationStepsInOrder) {
  Make(3);
  hub->OnInitDialog();
  const std::vector<std::string> expected = {
      "menu 16 About KV-14 Updater(&A)...",
      "icons",
      "clear 1001", "add 1001 Out A", "add 1001 Out B", "add 1001 TARVO KV Series",
      "clear 1000", "add 1000 TARVO KV Series", "add 1000 In B",
      // instance 3 looks for "... (3)": nothing matches, nothing is selected
      "range 0 100",
      "title TARVO KV-12 v2.00 Updater (3)",
  };
  EXPECT_EQ(view->Log(), expected);
  EXPECT_EQ(view->Text(control::kStatusField), "");
  EXPECT_EQ(view->Text(control::kStepField), "");
  // The 1 ms timer runs the dispatcher of this hub.
  ASSERT_EQ(timers->RunningEvents().size(), 1u);
  const auto event = timers->Event(timers->RunningEvents()[0]);
  ASSERT_TRUE(event.has_value());
  EXPECT_EQ(event->periodMs, 1u);
  EXPECT_EQ(event->callback, &CTx3UpdatorDlg::PollTimerProc);
  EXPECT_EQ(event->context, reinterpret_cast<std::uintptr_t>(hub.get()));
  timers->FireAll();  // a tick with an idle, closed input port does nothing
  EXPECT_EQ(driver->OpenInDevices(), 0);
}

TEST_F(HubTest, NoWindowMenuNoAboutItemAndTitleOfInstanceOne) {
  view->hasWindowMenu = false;
  Make(1);
  hub->OnInitDialog();
  for (const std::string& e : view->Log()) {
    EXPECT_NE(e.rfind("menu", 0), 0u) << e;
  }
  EXPECT_EQ(view->Title(), "TARVO KV-12 v2.00 Updater");
}

TEST_F(HubTest, PreselectionPicksTheLastExactMatchOfTheInstancesNames) {
  struct Case {
    const char* what;
    int instance;
    std::vector<std::string> names;
    int expected;
  };
  const Case cases[] = {
      {"series name at position 2", 1, {"Out A", "Out B", "TARVO KV Series"}, 2},
      {"two generic names: the later wins", 1, {"USB Audio Device", "Other", "USB Audio Device", "Else"}, 2},
      {"last match of different names wins", 1, {"TARVO KV Series", "USB Audio Device"}, 1},
      {"Japanese generic name (23 bytes)", 1, {"Other", kJapaneseName}, 1},
      {"instance 2 wants the numbered name", 2, {"USB Audio Device (2)", "USB Audio Device"}, 0},
      {"instance 3 numbered Japanese name", 3, {kJapaneseName, kJapaneseName + " (3)"}, 1},
      {"case differs", 1, {"usb audio device", "TARVO KV SERIES"}, -1},
      {"longer or shorter names", 1, {"USB Audio Device 2", "TARVO KV Serie", "TARVO KV Series (1)"}, -1},
      {"no devices", 1, {}, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    view = std::make_shared<FakeView>();
    Make(c.instance, c.names, c.names);
    hub->FillPortLists();
    // Unsorted: entry i is device i.
    EXPECT_EQ(view->Entries(control::kOutList), c.names);
    EXPECT_EQ(view->Entries(control::kInList), c.names);
    EXPECT_EQ(view->ListSelection(control::kOutList), c.expected);
    EXPECT_EQ(view->ListSelection(control::kInList), c.expected);
    // The count is asked before each device and once more at the end.
    EXPECT_EQ(driver->Count(Op::OutGetNumDevs), static_cast<int>(c.names.size()) + 1);
    EXPECT_EQ(driver->Count(Op::InGetNumDevs), static_cast<int>(c.names.size()) + 1);
    // Filling the lists touches neither the ports nor busy.
    EXPECT_EQ(driver->Count(Op::OutOpen) + driver->Count(Op::InOpen) + driver->Count(Op::OutClose), 0);
    EXPECT_EQ(hub->Busy(), 0);
    hub.reset();
  }
}

TEST_F(HubTest, RefillClearsAnOldSelectionAndRescanEnablesExecute) {
  Make(1, {"TARVO KV Series"}, {"TARVO KV Series"});
  hub->OnInitDialog();
  ASSERT_EQ(view->ListSelection(control::kOutList), 0);
  hub->EnableExecute(false);  // as a successful run leaves it
  // The device went away and another came: the refill selects nothing.
  hub.reset();
  view->ClearLog();
  driver = std::make_shared<SequencedDriver>(std::vector<std::string>{"Other"}, std::vector<std::string>{},
                                             sequence);
  timers = std::make_shared<SequencedTimers>(sequence);
  hub = CTx3UpdatorDlg::Create(driver, timers, view, 1);
  hub->OnRescanDevice();
  EXPECT_EQ(view->ListSelection(control::kOutList), -1);
  EXPECT_EQ(view->ListSelection(control::kInList), -1);
  EXPECT_EQ(view->Log().back(), "enable 1 on");
  EXPECT_TRUE(view->Enabled(control::kExecute));
  EXPECT_EQ(driver->Count(Op::OutOpen), 0);
}

TEST_F(HubTest, ExecuteFailsToOpenTheOutputPort) {
  test::ScopedLogDirectory logDir;
  struct Case {
    const char* what;
    std::vector<std::string> outNames;
    bool failOpen;
    std::uint32_t expectedDevice;
  };
  const Case cases[] = {
      {"the driver refuses", {"TARVO KV Series"}, true, 0},
      {"nothing selected: no such device", {"Other"}, false, 0xFFFFFFFFu},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    view = std::make_shared<FakeView>();
    Make(1, c.outNames, {"TARVO KV Series"});
    if (c.failOpen) driver->Fail(Op::OutOpen);
    hub->OnInitDialog();
    view->ClearLog();
    hub->OnExecute();
    EXPECT_EQ(driver->LastOutOpenDevice(), c.expectedDevice);
    EXPECT_EQ(view->Boxes(), (std::vector<MessageBoxRecord>{{"Can't open MIDI Out device.", "Error", BoxIcon::kError}}));
    EXPECT_EQ(view->Log().size(), 1u);  // nothing but the box: controls untouched
    EXPECT_EQ(hub->Busy(), 0);
    EXPECT_EQ(driver->OpenOutDevices(), 0);
    EXPECT_EQ(driver->Count(Op::InOpen) + driver->Count(Op::InClose), 0);
    hub.reset();
  }
  const std::vector<std::string> lines = logDir.Lines();
  ASSERT_EQ(lines.size(), 2u);
  for (const std::string& line : lines) {
    EXPECT_NE(line.find("Midi out error."), std::string::npos) << line;
  }
}

TEST_F(HubTest, ExecuteFailsToStartTheInputPortAndLeavesTheOutputOpen) {
  test::ScopedLogDirectory logDir;
  Make(1, {"Out A", "TARVO KV Series"}, {"TARVO KV Series"});
  driver->Fail(Op::InOpen);
  hub->OnInitDialog();
  view->ClearLog();
  hub->OnExecute();
  EXPECT_EQ(view->Log(), (std::vector<std::string>{"box Can't open MIDI In device."}));
  EXPECT_EQ(view->Boxes().back().caption, "Error");
  EXPECT_EQ(hub->Busy(), 0);
  EXPECT_EQ(driver->OpenOutDevices(), 1);
  EXPECT_EQ(driver->LastOutOpenDevice(), 1u);
  ASSERT_EQ(logDir.Lines().size(), 1u);
  EXPECT_NE(logDir.Lines()[0].find("Midi out error."), std::string::npos);

  // The next Execute closes and reopens the output port.
  const int closes = driver->Count(Op::OutClose);
  const int opens = driver->Count(Op::OutOpen);
  hub->OnExecute();
  EXPECT_EQ(driver->Count(Op::OutClose), closes + 1);
  EXPECT_EQ(driver->Count(Op::OutOpen), opens + 1);
  EXPECT_EQ(view->Boxes().size(), 2u);
}

TEST_F(HubTest, NoInputSelectionGoesToTheDriverAsAllOnes) {
  Make(1, {"TARVO KV Series"}, {"Other"});
  hub->OnInitDialog();
  hub->OnExecute();
  EXPECT_EQ(driver->LastInOpenDevice(), 0xFFFFFFFFu);
  EXPECT_EQ(view->Boxes().back().text, "Can't open MIDI In device.");
}

TEST_F(HubTest, AcceptedExecuteDisablesControlsStartsTheWorkerAndRefusesASecondRun) {
  test::ScopedLogDirectory logDir;
  Make(1, {"Out A", "TARVO KV Series"}, {"In A", "In B", "TARVO KV Series"});
  hub->OnInitDialog();
  // A signal left over from before must not answer the new run's request.
  hub->Engine().Signal().status.store(0);
  hub->Engine().Signal().detectedModel.store(0x57);
  hub->Engine().Signal().Set();
  view->ClearLog();

  hub->OnExecute();
  EXPECT_EQ(driver->LastOutOpenDevice(), 1u);
  EXPECT_EQ(driver->LastInOpenDevice(), 2u);
  EXPECT_EQ(view->Log(),
            (std::vector<std::string>{"enable 1000 off", "enable 1001 off", "enable 1 off", "enable 1004 off"}));
  EXPECT_EQ(hub->Busy(), 1);
  EXPECT_TRUE(view->Enabled(control::kExit));

  // The worker has begun: 0/9, then the identity request.
  ASSERT_TRUE(view->PumpUntil([&] { return view->Text(control::kStepField) == "0/9"; }));

  // Execute while busy: only the box.
  view->ClearLog();
  const int opens = driver->Count(Op::OutOpen);
  hub->OnExecute();
  EXPECT_EQ(view->Log(), (std::vector<std::string>{"box In Progress."}));
  EXPECT_EQ(driver->Count(Op::OutOpen), opens);
  EXPECT_EQ(hub->Busy(), 1);

  // Nobody answers (no dispatcher tick runs): the identity wait times out,
  // so the stale signal was not taken for an answer.
  ASSERT_TRUE(view->PumpUntil([&] { return hub->Busy() == 0; }, std::chrono::seconds(10)));
  EXPECT_EQ(view->Boxes().back(), (MessageBoxRecord{"Time out error(1)", "Error", BoxIcon::kError}));
  EXPECT_EQ(driver->SentMessages().size(), 1u);  // the identity request only
  EXPECT_EQ(EnableLog(), (std::vector<std::string>{"enable 1000 on", "enable 1001 on", "enable 1 on",
                                                   "enable 1004 on"}));
  EXPECT_GT(view->MarshalledCalls(), 0);
}

TEST_F(HubTest, AboutItemWithTheLowBitsSetOthersLeftToThePlatform) {
  Make(4);
  const std::pair<unsigned, bool> cases[] = {{16, true}, {0x1F, true}, {0x13, true},
                                             {32, false}, {0, false}, {0xF060, false}};
  for (const auto& [command, about] : cases) {
    SCOPED_TRACE(command);
    const std::size_t before = view->AboutBoxes().size();
    EXPECT_EQ(hub->OnSysCommand(command), about);
    EXPECT_EQ(view->AboutBoxes().size(), before + (about ? 1 : 0));
  }
  for (const std::string& title : view->AboutBoxes()) {
    EXPECT_EQ(title, "TARVO KV-12 v2.00 Updater");  // no instance number
  }
}

TEST_F(HubTest, WindowDestructionClosesThePortsAndAborts) {
  Make(1, {"TARVO KV Series"}, {"TARVO KV Series"});
  hub->OnInitDialog();
  hub->OnExecute();
  ASSERT_EQ(hub->Busy(), 1);
  sequence->events.clear();
  hub->OnDestroyWindow();
  view->MarkGone();
  {
    std::lock_guard<std::mutex> lock(sequence->mutex);
    EXPECT_EQ(sequence->events, (std::vector<std::string>{"out close", "in close"}));
  }
  EXPECT_EQ(driver->OpenOutDevices(), 0);
  EXPECT_EQ(driver->OpenInDevices(), 0);
  // The timer goes on until the hub itself is destroyed.
  EXPECT_EQ(timers->RunningEvents().size(), 1u);
  // The worker took the abort: it ends with no report and busy stays 1.
  const std::size_t logged = view->Log().size();
  view->PumpFor(std::chrono::milliseconds(100));
  EXPECT_EQ(view->Log().size(), logged);
  EXPECT_EQ(hub->Busy(), 1);
}

// A reply that was already received when the window went must not undo the
// abort: the worker would take its status for an answer and go on into its
// next wait (the update-mode wait never times out).
TEST_F(HubTest, AReplyReceivedBeforeTheCloseDoesNotUndoTheAbort) {
  const std::vector<std::uint8_t> pedalsIdentityRequest = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
  const std::vector<std::uint8_t> identityReply = {0xF0, 0x7E, 0x7F, 0x06, 0x02, 0x52, 0x57, 0x00,
                                                   0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7};
  for (const bool tickUnderWay : {false, true}) {
    SCOPED_TRACE(tickUnderWay ? "a dispatcher call under way during the close" : "a tick after the close");
    view = std::make_shared<FakeView>();
    driver = std::make_shared<SequencedDriver>(std::vector<std::string>{"TARVO KV Series"},
                                               std::vector<std::string>{"TARVO KV Series"}, sequence);
    timers = std::make_shared<SequencedTimers>(sequence);
    // Long waits: the worker must end through the abort, not a time-out.
    hub = CTx3UpdatorDlg::Create(driver, timers, view, 1, kProductionTimes);
    hub->OnInitDialog();
    hub->OnExecute();
    // The worker is held in its first observer call (the UI thread is not
    // pumping) while the pedal's messages reach the input queue.
    for (int i = 0; i < 5000 && view->MarshalledCalls() == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(view->MarshalledCalls(), 1);
    std::thread tick;
    if (tickUnderWay) {
      // The dispatcher's answer to the pedal's own request blocks it in the
      // send until the test completes it: the close happens meanwhile.
      driver->SetCompletion(RecordingDriver::Completion::Manually);
      ASSERT_TRUE(driver->HandBack(pedalsIdentityRequest));
      ASSERT_TRUE(driver->HandBack(identityReply));
      tick = std::thread([t = timers] { t->FireAll(); });
      ASSERT_TRUE(driver->WaitForPendingOutput());
      hub->OnDestroyWindow();
      ASSERT_TRUE(driver->CompletePendingOutput());
      tick.join();
    } else {
      ASSERT_TRUE(driver->HandBack(identityReply));
      hub->OnDestroyWindow();
      timers->FireAll();
    }
    view->MarkGone();  // the worker goes on
    std::weak_ptr<CTx3UpdatorDlg> weak = hub;
    std::vector<std::weak_ptr<void>> services{driver, timers, weak};
    driver.reset();
    timers.reset();
    hub.reset();
    EXPECT_TRUE(view->PumpUntil(
        [&] {
          for (const auto& w : services) {
            if (!w.expired()) return false;
          }
          return true;
        },
        std::chrono::seconds(10)))
        << "the worker took the old reply for an answer and went on waiting";
  }
}

TEST_F(HubTest, DestructionStopsTheTimerBeforeThePortsClose) {
  Make(1, {"TARVO KV Series"}, {"TARVO KV Series"});
  hub->OnInitDialog();
  hub->OnExecute();  // both ports open, worker waiting
  std::weak_ptr<CTx3UpdatorDlg> weak = hub;
  std::vector<std::weak_ptr<void>> services{driver, timers};
  auto keepDriver = driver;  // to read its calls afterwards
  auto keepTimers = timers;
  driver.reset();
  timers.reset();
  // No window destruction: the worker's identity wait times out and shows a
  // box, then the last reference goes with the worker.
  hub.reset();
  ASSERT_TRUE(view->PumpUntil([&] { return weak.expired() && keepTimers->RunningEvents().empty(); }));
  ASSERT_TRUE(view->PumpUntil([&] { return keepDriver->OpenOutDevices() == 0 && keepDriver->OpenInDevices() == 0; }));
  std::lock_guard<std::mutex> lock(sequence->mutex);
  ASSERT_GE(sequence->events.size(), 3u);
  const std::vector<std::string> last(sequence->events.end() - 3, sequence->events.end());
  EXPECT_EQ(last[0], "timer kill");
  // The ports close after it (in reverse order of declaration: output, input).
  EXPECT_EQ(last[1], "out close");
  EXPECT_EQ(last[2], "in close");
}

TEST_F(HubTest, ObserverCallsFromTheWorkerRunOnTheUiThreadAndStopWhenTheWindowIsGone) {
  Make();
  hub->OnInitDialog();
  std::atomic<int> stage{0};
  std::thread worker([&] {
    hub->SetStatusText("Erasing Flash memory.");
    hub->SetStepText("3/9");
    hub->SetProgressRange(0, 2912256);
    hub->SetProgressPos(2048);
    hub->EnableExecute(false);
    stage = 1;
    while (stage != 2) std::this_thread::yield();
    // The window is gone now: every call returns at once and changes nothing.
    hub->SetStatusText("late");
    hub->ShowError(107);
    hub->RestoreControls();
    hub->EnableExecute(true);
    stage = 3;
  });
  ASSERT_TRUE(view->PumpUntil([&] { return stage == 1; }));
  EXPECT_EQ(view->Text(control::kStatusField), "Erasing Flash memory.");
  EXPECT_EQ(view->Text(control::kStepField), "3/9");
  EXPECT_EQ(view->ProgressHigh(), 2912256);
  EXPECT_EQ(view->ProgressPos(), 2048);
  EXPECT_FALSE(view->Enabled(control::kExecute));
  const int marshalled = view->MarshalledCalls();
  EXPECT_EQ(marshalled, 5);

  hub->OnDestroyWindow();
  view->MarkGone();
  const std::size_t logged = view->Log().size();
  stage = 2;
  while (stage != 3) std::this_thread::yield();  // no pumping: nothing may wait for the UI thread
  worker.join();
  EXPECT_EQ(view->Log().size(), logged);
  EXPECT_TRUE(view->Boxes().empty());
  EXPECT_EQ(view->MarshalledCalls(), marshalled);
  EXPECT_EQ(view->RefusedCalls(), 0);
}

}  // namespace
}  // namespace kv
