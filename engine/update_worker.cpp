// One update run: identify the pedal, check its model, enter update mode, run
// the flash plan, finish. Every error path reports in the same order: log
// entry (where there is one), error box, then the controls once the box is
// dismissed. The abort code ends the run at once and without any report.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iterator>
#include <thread>

#include "engine/update_engine.h"
#include "ui/diagnostic_log.h"
#include "ui/message_texts.h"

namespace kv {
namespace {

// Message texts.
constexpr int kTextIdentityTimeout = 102;  // "Time out error(1)"
constexpr int kTextIllegalDevice = 105;    // "Illegal device connected."
constexpr int kTextUseUpdateMode = 106;    // "Please use the firmware update mode."
constexpr int kTextTransferError = 107;    // "Transfer error occurred."
constexpr int kTextCompleted = 108;        // "Version update completed."
constexpr int kTextCannotOpenOut = 113;    // "Can't open MIDI Out device."
constexpr int kTextErasing = 114;          // "Erasing Flash memory."

// Log entries.
constexpr int kLogMidiOut = 0;          // "Midi out error."
constexpr int kLogIllegalDevice = 1;    // "Illegal device connected."
constexpr int kLogUseUpdateMode = 2;    // "Please use the firmware update mode."
constexpr int kNoLogEntry = -1;

// The pedal's answer to the update-mode request when it is not in that mode.
constexpr std::int32_t kStatusNotInUpdateMode = 11;

// Ends the run after a failure; the worker's result is 0 on every path.
int Fail(UpdateObserver& observer, int logEntry, int textNumber) {
  if (logEntry != kNoLogEntry) {
    WriteLogEntry(logEntry);
  }
  observer.ShowError(textNumber);
  observer.RestoreControls();
  return 0;
}

bool IsAccepted(std::uint8_t model) {
  return std::find(std::begin(AcceptedModels), std::end(AcceptedModels), model) != std::end(AcceptedModels);
}

}  // namespace

int UpdateWorker(CUpdateEngine& engine) {
  UpdateObserver& observer = engine.Observer();
  ReplySignal& signal = engine.Signal();
  const ProtocolTimes& times = engine.Times();

  char stepText[16];
  observer.SetStepText(FormatStepStartText(stepText, sizeof stepText, kFlashPlanSteps));

  // Identification. A request that could not be sent is reported, and the
  // wait still runs: it ends in the time-out report.
  if (engine.SendSysEx(kIdentityRequest, kIdentityRequestLength) != 0) {
    WriteLogEntry(kLogMidiOut);
    observer.ShowError(kTextCannotOpenOut);
  }
  if (!signal.Wait(times.identityWaitMs)) {
    return Fail(observer, kLogMidiOut, kTextIdentityTimeout);
  }
  std::int32_t status = signal.status.load();
  if (status == kStatusAbort) {
    return 0;
  }
  if (status != 0) {
    return Fail(observer, kLogIllegalDevice, kTextIllegalDevice);
  }

  // The reported model becomes the one every vendor message carries before it
  // is checked, so the dispatcher follows a rejected pedal too.
  const std::uint8_t model = signal.detectedModel.load();
  ModelId.store(model);
  if (!IsAccepted(model)) {
    return Fail(observer, kLogIllegalDevice, kTextIllegalDevice);
  }
  SetIdentityModel(model);

  // Update mode. The pedal may take as long as it likes to answer; only the
  // dialog's closing ends this wait otherwise.
  engine.SendModeRequest(kCmdUpdateMode);
  observer.SetStatusText(LoadMessageText(kTextErasing));
  signal.WaitForever();
  observer.SetStatusText("");
  status = signal.status.load();
  if (status == kStatusAbort) {
    return 0;
  }
  if (status == kStatusNotInUpdateMode) {
    return Fail(observer, kLogUseUpdateMode, kTextUseUpdateMode);
  }
  if (status != 0) {
    return Fail(observer, kNoLogEntry, kTextTransferError);
  }

  std::this_thread::sleep_for(std::chrono::milliseconds(times.modePauseMs));
  if (engine.RunFlashPlan() != 0) {
    return 0;  // the failing step has reported, or the run was aborted
  }

  // Any answer to the finish request counts as completion.
  engine.SendModeRequest(kCmdFinish);
  if (!signal.Wait(times.finishWaitMs)) {
    return Fail(observer, kNoLogEntry, kTextTransferError);
  }
  observer.SetStatusText(LoadMessageText(kTextCompleted));
  observer.RestoreControls();
  observer.EnableExecute(false);
  return 0;
}

}  // namespace kv
