#include "cli/update_run.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "cli/exit_codes.h"
#include "cli/port_choice.h"
#include "cli/terminal_observer.h"
#include "cli/termination_watch.h"
#include "engine/update_engine.h"
#include "midi/drivers/thread_timer_service.h"
#include "midi/dxm_timer.h"
#include "midi/midi_in_port.h"
#include "midi/midi_out_port.h"
#include "midi/timing.h"
#include "ui/diagnostic_log.h"

namespace kv::cli {

namespace {

constexpr int kLogMidiOutError = 0;
constexpr int kTextCannotOpenIn = 110;
constexpr int kTextCannotOpenOut = 113;
constexpr auto kSignalPollInterval = std::chrono::milliseconds(20);

void PollTimerProc(std::uint32_t, std::uint32_t, std::uintptr_t context, std::uintptr_t, std::uintptr_t) {
  reinterpret_cast<CUpdateEngine*>(context)->PollReplies();
}

// The device number for Open and SetDeviceIndex; -1 (nothing chosen) becomes
// a number no device has, as the dialog passes it.
std::uint32_t DeviceNumber(int position) { return static_cast<std::uint32_t>(position); }

void PortHint(std::FILE* err, const char* direction, const char* option, const std::optional<std::string>& value) {
  if (value) {
    std::fprintf(err, "kv-update: no MIDI %s port '%s' (see --list)\n", direction, value->c_str());
  } else {
    std::fprintf(err, "kv-update: no MIDI %s port carries a preferred name; choose one with %s (see --list)\n",
                 direction, option);
  }
}

}  // namespace

int ListPorts(midi::MidiDriver& driver, std::FILE* out) {
  midi::CMidiInPort inPort(driver);
  midi::CMidiOutPort outPort(driver);
  PrintPortLists(out, ReadPortLists(inPort, outPort));
  return kExitCompleted;
}

int RunUpdate(const CliOptions& options, midi::MidiDriver& driver, const sim::SimulatedPedal* pedal, std::FILE* out,
              std::FILE* err) {
  midi::ThreadTimerService timerService;
  midi::CMidiInPort inPort(driver);
  midi::CMidiOutPort outPort(driver);
  TerminalObserver observer(out, err, IsTerminal(out));
  CUpdateEngine engine(outPort, inPort, observer);
  // Declared last: stopped before anything its callback uses goes away.
  midi::CDxMTimer timer(timerService);
  timer.Start(kPollPeriodMs, PollTimerProc, reinterpret_cast<std::uintptr_t>(&engine));

  const PortLists lists = ReadPortLists(inPort, outPort);
  const int outPosition = ChoosePort(lists.out, options.outPort);
  const int inPosition = ChoosePort(lists.in, options.inPort);
  // A name or number given on the command line that matches nothing is the
  // operator's slip, reported before anything is opened.
  if (options.outPort && outPosition < 0) {
    PortHint(err, "OUT", "--out", options.outPort);
    return kExitPortProblem;
  }
  if (options.inPort && inPosition < 0) {
    PortHint(err, "IN", "--in", options.inPort);
    return kExitPortProblem;
  }

  outPort.Close();
  if (outPort.Open(DeviceNumber(outPosition)) == 0) {
    WriteLogEntry(kLogMidiOutError);
    observer.ShowError(kTextCannotOpenOut);
    if (outPosition < 0) {
      PortHint(err, "OUT", "--out", options.outPort);
    }
    return kExitPortProblem;
  }
  inPort.Close();
  inPort.SetDeviceIndex(DeviceNumber(inPosition));
  if (inPort.Start() == 0) {
    WriteLogEntry(kLogMidiOutError);
    observer.ShowError(kTextCannotOpenIn);
    if (inPosition < 0) {
      PortHint(err, "IN", "--in", options.inPort);
    }
    return kExitPortProblem;
  }

  engine.Signal().Reset();
  std::atomic<bool> workerDone{false};
  std::thread worker([&engine, &workerDone] {
    UpdateWorker(engine);
    workerDone.store(true);
  });

  int interruptedBy = 0;
  while (!workerDone.load()) {
    const int signal = WaitForTermination(kSignalPollInterval);
    if (signal == 0) {
      continue;
    }
    if (interruptedBy != 0) {
      std::_Exit(kExitInterruptedBase + interruptedBy);  // asked twice: leave at once
    }
    interruptedBy = signal;
    // As the dialog's closing does, after stopping the dispatcher so that no
    // late reply can overwrite the abort code: the worker ends at its next
    // wait without a report.
    timer.Stop();
    outPort.Close();
    inPort.Close();
    engine.Signal().status.store(kStatusAbort);
    engine.Signal().Set();
  }
  worker.join();
  timer.Stop();
  outPort.Close();
  inPort.Close();
  observer.Finish();

  if (interruptedBy != 0) {
    std::fprintf(err, "kv-update: interrupted; the update was abandoned\n");
    return kExitInterruptedBase + interruptedBy;
  }
  if (!observer.Completed()) {
    return kExitUpdateFailed;
  }
  if (pedal != nullptr) {
    const sim::VerifyResult verified = pedal->Verify();
    std::fprintf(out, "%s\n", verified.line.c_str());
    std::fflush(out);
    if (!verified.ok) {
      return kExitFlashMismatch;
    }
  }
  return kExitCompleted;
}

}  // namespace kv::cli
