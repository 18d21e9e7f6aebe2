#include "bench/update_figures.h"

#include <chrono>
#include <cstring>
#include <future>
#include <optional>
#include <thread>

#include "bench/process_usage.h"
#include "engine/flash_plan.h"
#include "engine/update_engine.h"
#include "midi/drivers/thread_timer_service.h"
#include "midi/dxm_timer.h"
#include "midi/midi_in_port.h"
#include "midi/midi_out_port.h"
#include "midi/timing.h"
#include "sim/simulated_pedal.h"
#include "ui/message_texts.h"

namespace kv::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTextCompleted = 108;
// A fault-free run takes a few seconds; past this something hangs, and the
// run is abandoned as the dialog's closing would abandon it.
constexpr auto kRunLimit = std::chrono::seconds(120);

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Takes the times the plan's span is measured by. Every call comes from the
// worker's thread and is read only after the worker has been joined, so it
// needs no lock; it does as little as it can, so as not to slow the worker.
class TimingObserver final : public UpdateObserver {
 public:
  TimingObserver() { FormatStepText(firstStep_, sizeof firstStep_, 1, kFlashPlanSteps); }

  void SetStatusText(const char* text) override {
    completed_ = std::strcmp(text, LoadMessageText(kTextCompleted)) == 0;
  }
  void SetStepText(const char* text) override {
    if (!planStart_ && std::strcmp(text, firstStep_) == 0) {
      planStart_ = Clock::now();
    }
  }
  void SetProgressRange(std::int32_t, std::int32_t) override {}
  // Every acknowledgement moves the bar, and nothing after the plan does.
  void SetProgressPos(std::int32_t) override { lastProgress_ = Clock::now(); }
  void ShowError(int textNumber) override { errors_.push_back(textNumber); }
  void RestoreControls() override {}
  void EnableExecute(bool) override {}

  bool Completed() const { return completed_; }
  const std::vector<int>& Errors() const { return errors_; }
  double PlanMs() const { return planStart_ ? Ms(lastProgress_ - *planStart_) : 0.0; }

 private:
  char firstStep_[16] = {};
  bool completed_ = false;
  std::vector<int> errors_;
  std::optional<Clock::time_point> planStart_;
  Clock::time_point lastProgress_{};
};

void PollTimerProc(std::uint32_t, std::uint32_t, std::uintptr_t context, std::uintptr_t, std::uintptr_t) {
  reinterpret_cast<CUpdateEngine*>(context)->PollReplies();
}

}  // namespace

UpdateFigures MeasureUpdate() {
  UpdateFigures figures;
  std::string error;
  const std::unique_ptr<sim::SimulatedPedal> pedal = sim::SimulatedPedal::Create(sim::Scenario{}, error);
  if (!pedal) {
    figures.verifyLine = error;
    return figures;
  }
  {
    midi::ThreadTimerService timerService;
    midi::CMidiInPort inPort(pedal->Driver());
    midi::CMidiOutPort outPort(pedal->Driver());
    TimingObserver observer;
    CUpdateEngine engine(outPort, inPort, observer, kProductionTimes);
    // Declared last: stopped before anything its callback uses goes away.
    midi::CDxMTimer timer(timerService);

    // As Execute does it: the dispatcher already ticking, the output opened,
    // the input pointed at its device and started, the signal reset.
    const Clock::time_point start = Clock::now();
    const double cpuStart = ProcessCpuMs();
    if (timer.Start(kPollPeriodMs, PollTimerProc, reinterpret_cast<std::uintptr_t>(&engine)) == 0) {
      figures.verifyLine = "the dispatcher's timer did not start";
      return figures;
    }
    inPort.SetDeviceIndex(0);
    if (outPort.Open(0) != 1 || inPort.Start() != 1) {
      figures.verifyLine = "the simulated pedal's ports did not open";
      return figures;
    }
    engine.Signal().Reset();
    std::promise<void> workerEnded;
    std::future<void> ended = workerEnded.get_future();
    std::thread worker([&engine, &workerEnded] {
      UpdateWorker(engine);
      workerEnded.set_value();
    });
    if (ended.wait_for(kRunLimit) != std::future_status::ready) {
      // Stop the dispatcher first so no late reply overwrites the abort code.
      timer.Stop();
      outPort.Close();
      inPort.Close();
      engine.Signal().status.store(kStatusAbort);
      engine.Signal().Set();
    }
    worker.join();
    figures.wallMs = Ms(Clock::now() - start);
    figures.cpuMs = ProcessCpuMs() - cpuStart;
    timer.Stop();
    outPort.Close();
    inPort.Close();

    figures.completed = observer.Completed();
    figures.errors = observer.Errors();
    figures.planMs = observer.PlanMs();
  }
  const sim::PedalCounters counters = pedal->Model().Counters();
  figures.exchanges = counters.eraseRequests + counters.writeMessages;
  const sim::VerifyResult verified = pedal->Verify();
  figures.verified = verified.ok;
  figures.verifyLine = verified.line;
  return figures;
}

}  // namespace kv::bench
