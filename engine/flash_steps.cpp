// The flash plan and its two kinds of step. A step that fails reports the
// failure itself (log entry, error box, then the controls) so that its callers
// only have to stop; the abort code ends a step at once and in silence.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

#include "engine/update_engine.h"
#include "ui/diagnostic_log.h"
#include "ui/message_texts.h"

namespace kv {
namespace {

// Message texts.
constexpr int kTextWriteTimeout = 103;   // "Time out error(2)"
constexpr int kTextEraseTimeout = 104;   // "Time out error(3)"
constexpr int kTextTransferError = 107;  // "Transfer error occurred."
constexpr int kTextErasing = 114;        // "Erasing Flash memory."

// Log entries.
constexpr int kLogEraseFailed = 3;      // "(Erase)Time Out Error."
constexpr int kLogChecksumError = 4;    // "(CRC)Transfer error occurred."
constexpr int kLogFlashWriteError = 5;  // "(Flash Write)Transfer error occurred."
constexpr int kLogWriteTimeout = 6;     // "(Write)Time Out Error."

// Status codes the pedal reports for a chunk.
constexpr std::int32_t kStatusChecksumError = 8;
constexpr std::int32_t kStatusFlashWriteError = 3;

constexpr int kNoLogEntry = -1;
constexpr int kMaxRepeats = kMaxSends - 1;
constexpr std::int32_t kEraseProgressEnd = 10;

// Log entry (when there is one), error box, and the controls once the box is
// dismissed: the order every failing step keeps.
int Fail(UpdateObserver& observer, int logEntry, int textNumber) {
  if (logEntry >= 0) {
    WriteLogEntry(logEntry);
  }
  observer.ShowError(textNumber);
  observer.RestoreControls();
  return -1;
}

}  // namespace

int CUpdateEngine::RunFlashPlan() { return RunFlashPlan(std::span<const FlashStep>(FlashPlan)); }

int CUpdateEngine::RunFlashPlan(std::span<const FlashStep> plan) {
  const int stepCount = static_cast<int>(plan.size());
  char stepText[32];
  int step = 0;
  for (const FlashStep& row : plan) {
    ++step;
    observer_.SetStepText(FormatStepText(stepText, sizeof stepText, step, stepCount));
    int result = 0;
    if (row.operation == kOperationErase) {
      result = EraseRegion(row.address, row.size);
    } else if (row.operation == kOperationWrite) {
      result = WriteImage(row.address, row.size, row.resourceId);
    }
    if (result == -1) {
      return -1;
    }
  }
  return 0;
}

int CUpdateEngine::EraseRegion(std::int32_t address, std::int32_t size) {
  int repeats = 0;
  observer_.SetProgressRange(0, kEraseProgressEnd);
  for (;;) {
    SendEraseRequest(address, size);  // a lost request shows up as the time-out
    observer_.SetProgressPos(1);
    observer_.SetStatusText(LoadMessageText(kTextErasing));
    // An erase may be under way in the pedal: a time-out is never answered
    // by asking again.
    if (!replySignal_.Wait(times_.eraseWaitMs)) {
      return Fail(observer_, kLogEraseFailed, kTextEraseTimeout);
    }
    const std::int32_t status = replySignal_.status.load();
    if (status == 0) {
      observer_.SetProgressPos(kEraseProgressEnd);
      return 0;
    }
    if (status == kStatusAbort) {
      return -1;
    }
    if (repeats >= kMaxRepeats) {
      return Fail(observer_, kLogEraseFailed, kTextTransferError);
    }
    ++repeats;
    Pause(times_.repeatPauseMs);
  }
}

int CUpdateEngine::WriteImage(std::int32_t address, std::int32_t size, std::int32_t resourceId) {
  const ImageBytes image = images_.Find(resourceId);
  imageData = image.data;
  std::int64_t bytesToWrite = size;
  if (size == 0) {
    bytesToWrite = static_cast<std::int64_t>(image.size);
  }
  // Refuse a row the image cannot fill in whole chunks, before anything is
  // sent: every chunk is kChunkSize bytes long, so anything else would read
  // past the image. The refusal is reported like a transfer that failed, so
  // the run ends visibly and the controls come back.
  const bool imageFits = image.data != nullptr && bytesToWrite > 0 && bytesToWrite % kChunkSize == 0 &&
                         static_cast<std::uint64_t>(bytesToWrite) <= image.size;
  const bool addressFits =
      address >= 0 && address + bytesToWrite - 1 <= std::numeric_limits<std::int32_t>::max();
  if (!imageFits || !addressFits) {
    imageSize = 0;
    return Fail(observer_, kNoLogEntry, kTextTransferError);
  }
  imageSize = static_cast<std::int32_t>(bytesToWrite);
  // The position stays where the erase left it until the first acknowledgement.
  observer_.SetProgressRange(0, imageSize);

  char statusText[64];
  std::int32_t offset = 0;
  int repeats = 0;
  for (;;) {
    SendWriteChunk(imageData + offset, address + offset, static_cast<std::size_t>(kChunkSize));
    observer_.SetStatusText(FormatTransmitText(statusText, sizeof statusText, offset, imageSize));
    if (!replySignal_.Wait(times_.chunkWaitMs)) {
      if (repeats >= kMaxRepeats) {
        return Fail(observer_, kLogWriteTimeout, kTextWriteTimeout);
      }
      ++repeats;
      Pause(times_.repeatPauseMs);
      continue;
    }
    const std::int32_t status = replySignal_.status.load();
    if (status == 0) {
      repeats = 0;
      offset += kChunkSize;
      observer_.SetProgressPos(offset);
      if (offset >= imageSize) {
        return 0;
      }
      continue;  // one chunk in flight, no pause after an acknowledgement
    }
    if (status == kStatusAbort) {
      return -1;
    }
    if (status == kStatusChecksumError) {
      WriteLogEntry(kLogChecksumError);
    } else if (status == kStatusFlashWriteError) {
      WriteLogEntry(kLogFlashWriteError);
    }
    if (repeats >= kMaxRepeats) {
      return Fail(observer_, kNoLogEntry, kTextTransferError);
    }
    ++repeats;
    Pause(times_.repeatPauseMs);
  }
}

}  // namespace kv
