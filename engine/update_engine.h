// The engine operations of an update: composing and sending messages,
// dispatching the pedal's replies and running the flash plan. One object
// holds what they use, so the engine runs with no window at all; the dialog
// hub, the command line and the tests each own one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>

#include "engine/firmware_images.h"
#include "engine/flash_plan.h"
#include "engine/reply_signal.h"
#include "engine/sysex.h"
#include "midi/midi_in_port.h"
#include "midi/midi_out_port.h"
#include "midi/timing.h"
#include "ui/update_observer.h"

namespace kv {

class CUpdateEngine {
 public:
  CUpdateEngine(midi::CMidiOutPort& outPort, midi::CMidiInPort& inPort, UpdateObserver& observer,
                const ProtocolTimes& times = kProductionTimes, const ImageSource& images = EmbeddedImages());
  CUpdateEngine(const CUpdateEngine&) = delete;
  CUpdateEngine& operator=(const CUpdateEngine&) = delete;

  // Sending. 0 sent, -1 not sent.
  int SendSysEx(const std::uint8_t* data, std::size_t length);
  int SendWriteChunk(const std::uint8_t* data, std::int32_t address, std::size_t length);
  int SendEraseRequest(std::int32_t address, std::int32_t size);
  int SendStatus(std::uint8_t code);
  // The update-mode (0x01) or finish (0x04) request, composed with ModelId.
  int SendModeRequest(std::uint8_t command);

  // Drains the input queue; one call at a time.
  void PollReplies();

  // The flash plan. 0 success, -1 failed (already reported) or aborted.
  int RunFlashPlan();
  int RunFlashPlan(std::span<const FlashStep> plan);
  int EraseRegion(std::int32_t address, std::int32_t size);
  int WriteImage(std::int32_t address, std::int32_t size, std::int32_t resourceId);

  ReplySignal& Signal() { return replySignal_; }
  UpdateObserver& Observer() { return observer_; }
  const ProtocolTimes& Times() const { return times_; }
  midi::CMidiOutPort& OutPort() { return outPort_; }
  midi::CMidiInPort& InPort() { return inPort_; }

  const std::uint8_t* imageData = nullptr;
  std::int32_t imageSize = 0;

 private:
  void Pause(std::uint32_t milliseconds);

  midi::CMidiOutPort& outPort_;
  midi::CMidiInPort& inPort_;
  UpdateObserver& observer_;
  ProtocolTimes times_;
  const ImageSource& images_;
  ReplySignal replySignal_;

  // Held by a composer from its first byte until its SendSysEx returns.
  std::mutex compositionMutex_;
  std::uint8_t compositionBuffer_[kCompositionBufferSize];
  std::mutex pollMutex_;
};

// One update run, on the worker's thread. Returns 0.
int UpdateWorker(CUpdateEngine& engine);

// The models the worker accepts, searched from the front.
constexpr std::uint8_t AcceptedModels[2] = {0x57, 0x5F};

}  // namespace kv
