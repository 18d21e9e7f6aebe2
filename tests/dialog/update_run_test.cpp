// Whole update runs through the hub: loopback ports, the real 1 ms timer
// thread and a simulated pedal that the test can stop at any message, so the
// dialog can be closed in every phase of a run.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/sysex.h"
#include "midi/drivers/loopback_driver.h"
#include "midi/drivers/thread_timer_service.h"
#include "sim/pedal_model.h"
#include "sim/scenario.h"
#include "tests/dialog/fake_view.h"
#include "tests/dialog/test_support.h"
#include "ui/updator_dlg.h"

namespace kv {
namespace {

using test::FakeView;
using test::MessageBoxRecord;

// Long waits, so a worker that ends within a few seconds of the close was
// ended by the abort and not by a time-out.
constexpr ProtocolTimes kRunTimes{30000, 50, 30000, 30000, 5000, 20};
constexpr auto kAbortBound = std::chrono::seconds(10);

// The host's message kinds, by their bytes.
bool IsIdentityRequest(const std::uint8_t* m, std::size_t n) { return n >= 5 && m[1] == 0x7E && m[4] == 0x01; }
bool IsVendor(const std::uint8_t* m, std::size_t n, std::uint8_t command) {
  return n >= 5 && m[1] == kVendorId && m[4] == command;
}

// A simulated pedal behind loopback ports named "TARVO KV Series", which
// swallows the first host message that `holdWhen` picks: the pedal never
// answers it, and the test learns that the host is now waiting.
struct GatedPedal {
  explicit GatedPedal(sim::Scenario scenario)
      : model(scenario, [this](const std::uint8_t* d, std::size_t n) { driver.SendToHost(0, d, n); }),
        driver("TARVO KV Series") {
    driver.SetDeviceHandler([this](std::uint32_t, const std::uint8_t* d, std::size_t n) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        ++seen;
        if (!held && holdWhen && holdWhen(d, n, seen)) {
          held = true;
          return;
        }
      }
      model.Receive(d, n);
    });
  }
  ~GatedPedal() { driver.SetDeviceHandler({}); }
  bool Held() {
    std::lock_guard<std::mutex> lock(mutex);
    return held;
  }

  std::mutex mutex;
  // (message, length, number of host messages so far including this one)
  std::function<bool(const std::uint8_t*, std::size_t, int)> holdWhen;
  bool held = false;
  int seen = 0;
  sim::PedalModel model;       // declared before the driver: outlives its handler
  midi::LoopbackDriver driver;
};

class UpdateRunTest : public ::testing::Test {
 protected:
  void Start(sim::Scenario scenario = {}, std::function<bool(const std::uint8_t*, std::size_t, int)> holdWhen = {}) {
    pedal = std::make_shared<GatedPedal>(scenario);
    pedal->holdWhen = std::move(holdWhen);
    timers = std::make_shared<midi::ThreadTimerService>();
    hub = CTx3UpdatorDlg::Create(std::shared_ptr<midi::MidiDriver>(pedal, &pedal->driver), timers, view, 1,
                                 kRunTimes);
    hub->OnInitDialog();
    ASSERT_EQ(view->ListSelection(control::kOutList), 0);
    ASSERT_EQ(view->ListSelection(control::kInList), 0);
    hub->OnExecute();
    ASSERT_EQ(hub->Busy(), 1);
  }
  // Exit, Escape or the close box: the window goes.
  void CloseWindow() {
    hub->OnDestroyWindow();
    view->MarkGone();
    logAtClose = view->Log().size();
    boxesAtClose = view->Boxes().size();
    EXPECT_FALSE(hub->OutPort().IsOpen());
    EXPECT_FALSE(hub->InPort().IsStarted());
  }
  // The modal run is over: the dialog object goes too. The worker must end
  // (soon: it was woken by the abort, not a time-out) and release it all.
  void ReleaseAndExpectQuietEnd() {
    std::vector<std::weak_ptr<void>> all{pedal, timers};
    pedal.reset();
    timers.reset();
    std::shared_ptr<CTx3UpdatorDlg> last = std::move(hub);
    std::weak_ptr<void> hubWeak = last;
    last.reset();
    all.push_back(hubWeak);
    EXPECT_TRUE(view->PumpUntil(
        [&] {
          for (const auto& w : all) {
            if (!w.expired()) return false;
          }
          return true;
        },
        kAbortBound))
        << "the worker did not end after the close";
    EXPECT_EQ(view->Log().size(), logAtClose) << "the view was used after the window was gone";
    EXPECT_EQ(view->Boxes().size(), boxesAtClose);
  }
  void TearDown() override {
    if (hub) {
      CloseWindow();
      ReleaseAndExpectQuietEnd();
    }
    EXPECT_EQ(view->ThreadViolations(), 0);
  }

  std::shared_ptr<FakeView> view = std::make_shared<FakeView>();
  std::shared_ptr<GatedPedal> pedal;
  std::shared_ptr<midi::ThreadTimerService> timers;
  std::shared_ptr<CTx3UpdatorDlg> hub;
  std::size_t logAtClose = 0;
  std::size_t boxesAtClose = 0;
};

TEST_F(UpdateRunTest, SuccessfulRunCompletesAndRescanReenablesExecute) {
  Start();
  ASSERT_TRUE(view->PumpUntil([&] { return hub->Busy() == 0; }, std::chrono::seconds(240)));
  // RestoreControls clears busy; the worker's last call disables Execute.
  EXPECT_TRUE(view->PumpUntil([&] { return !view->Enabled(control::kExecute); }, std::chrono::seconds(5)));
  EXPECT_TRUE(view->Boxes().empty());
  EXPECT_EQ(view->Text(control::kStatusField), "Version update completed.");
  EXPECT_EQ(view->Text(control::kStepField), "9/9");
  EXPECT_EQ(view->ProgressHigh(), 0xB0000);
  EXPECT_EQ(view->ProgressPos(), 0xB0000);
  // Completed: lists and Rescan Device on, Execute off.
  EXPECT_TRUE(view->Enabled(control::kInList));
  EXPECT_TRUE(view->Enabled(control::kOutList));
  EXPECT_TRUE(view->Enabled(control::kRescan));
  const sim::VerifyResult verified = pedal->model.Verify(EmbeddedImages());
  EXPECT_TRUE(verified.ok) << verified.line;
  EXPECT_EQ(pedal->model.Counters().finishRequests, 1u);

  // Ready again only through Rescan Device; the ports stay open until then.
  EXPECT_TRUE(hub->OutPort().IsOpen());
  hub->OnRescanDevice();
  EXPECT_TRUE(view->Enabled(control::kExecute));
  EXPECT_EQ(view->ListSelection(control::kOutList), 0);
  EXPECT_EQ(view->Text(control::kStatusField), "Version update completed.");  // kept
}

// Closing the dialog wherever the worker is: it ends at its wait without a
// report, no view call follows the close, and everything is released.
TEST_F(UpdateRunTest, ClosingInEveryPhaseEndsTheRunQuietly) {
  int writes = 0;
  int erases = 0;
  struct Case {
    const char* phase;
    sim::Scenario scenario;
    std::function<bool(const std::uint8_t*, std::size_t, int)> holdWhen;
  };
  const std::vector<Case> cases = {
      {"waiting for the identity reply", {}, [](const std::uint8_t* m, std::size_t n, int) { return IsIdentityRequest(m, n); }},
      {"waiting for the update-mode reply (no time limit)", {},
       [](const std::uint8_t* m, std::size_t n, int) { return IsVendor(m, n, kCmdUpdateMode); }},
      {"inside an erase", {},
       [&erases](const std::uint8_t* m, std::size_t n, int) { return IsVendor(m, n, kCmdErase) && ++erases == 2; }},
      {"inside a write", {},
       [&writes](const std::uint8_t* m, std::size_t n, int) { return IsVendor(m, n, kCmdWriteData) && ++writes == 5; }},
      {"in the finish wait", {}, [](const std::uint8_t* m, std::size_t n, int) { return IsVendor(m, n, kCmdFinish); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.phase);
    writes = erases = 0;
    view = std::make_shared<FakeView>();
    Start(c.scenario, c.holdWhen);
    ASSERT_TRUE(view->PumpUntil([&] { return pedal->Held(); }, std::chrono::seconds(240)));
    view->PumpFor(std::chrono::milliseconds(20));  // the worker is in its wait now
    EXPECT_EQ(hub->Busy(), 1);
    EXPECT_TRUE(view->Boxes().empty());
    CloseWindow();
    ReleaseAndExpectQuietEnd();
    ASSERT_FALSE(HasFatalFailure());
  }
}

TEST_F(UpdateRunTest, ClosingWhileAnErrorBoxIsOpen) {
  // The pedal is not in update mode: the worker shows "Please use the
  // firmware update mode." and the operator closes the dialog behind the box.
  sim::Scenario scenario;
  scenario.updateModeStatus = 11;
  bool closedInBox = false;
  view->onMessageBox = [&](const MessageBoxRecord& box) {
    EXPECT_EQ(box.text, "Please use the firmware update mode.");
    CloseWindow();
    closedInBox = true;
  };
  Start(scenario);
  ASSERT_TRUE(view->PumpUntil([&] { return closedInBox; }));
  EXPECT_EQ(logAtClose, view->Log().size());
  ReleaseAndExpectQuietEnd();
}

TEST_F(UpdateRunTest, ClosingWhileRepliesAreFlowing) {
  // No gate: the close meets replies in the driver, in the input queue and
  // in the dispatcher, at several points of a running transfer.
  for (const char* step : {"0/9", "1/9", "3/9"}) {
    SCOPED_TRACE(step);
    view = std::make_shared<FakeView>();
    Start();
    ASSERT_TRUE(view->PumpUntil([&] { return view->Text(control::kStepField) == step; }, std::chrono::seconds(60)));
    view->PumpFor(std::chrono::milliseconds(15));
    CloseWindow();
    ReleaseAndExpectQuietEnd();
    ASSERT_FALSE(HasFatalFailure());
  }
}

TEST_F(UpdateRunTest, TheDialogObjectMayGoFirstAndTheWorkerReleasesItLater) {
  // The window and the app's reference go while the worker is blocked in an
  // error box (its observer call is still queued); the worker then ends on
  // its own and the hub is destroyed on the worker's thread.
  sim::Scenario scenario;
  scenario.model = 0x58;  // not an accepted model: "Illegal device connected."
  Start(scenario);
  ASSERT_TRUE(view->PumpUntil([&] { return view->MarshalledCalls() > 0; }));
  // Let the worker reach its box: its call waits in the queue, unpumped.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  CloseWindow();  // drops the queued box: the worker is released with "not run"
  ReleaseAndExpectQuietEnd();
}

}  // namespace
}  // namespace kv
