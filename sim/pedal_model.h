// A KV Series pedal in firmware update mode, modelled from the SysEx
// dialogue alone: it identifies itself, accepts or refuses update mode,
// erases and programs its flash from the host's messages and acknowledges
// each one with a status message, misbehaving as its Scenario says.
//
// Status codes it sends: 0 done; 1 unknown command or malformed message;
// 3 flash write failed (range outside the part, or a cell needed a bit set);
// 8 write data corrupted (CRC mismatch, bad 7-bit data, length mismatch);
// 11 not in firmware update mode (erase or write before update mode).
//
// Thread-safe: host messages, the pedal's own requests and the queries may
// come from different threads. The sink and the tap are called with the
// model's lock held, so they see the messages in the pedal's order and must
// not call back into the model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "engine/firmware_images.h"
#include "sim/flash_memory.h"
#include "sim/flash_verification.h"
#include "sim/scenario.h"

namespace kv::sim {

enum class Direction { kHost, kPedal };

// What the pedal has seen and done, for tests and reports.
struct PedalCounters {
  std::uint32_t identityRequests = 0;
  std::uint32_t updateModeRequests = 0;
  std::uint32_t eraseRequests = 0;     // every arrival, repeats included
  std::uint32_t writeMessages = 0;     // every arrival, repeats included
  std::uint32_t chunksProgrammed = 0;  // write messages carried out with status 0
  std::uint32_t finishRequests = 0;
  std::uint32_t ignored = 0;           // not for this pedal, or not SysEx
};

class PedalModel {
 public:
  // `toHost` carries each of the pedal's messages to the host; `tap`, when
  // given, sees every message in both directions.
  using Sink = std::function<void(const std::uint8_t* data, std::size_t length)>;
  using Tap = std::function<void(Direction direction, const std::uint8_t* data, std::size_t length)>;

  PedalModel(Scenario scenario, Sink toHost, Tap tap = {});
  PedalModel(const PedalModel&) = delete;
  PedalModel& operator=(const PedalModel&) = delete;

  // One whole message from the host.
  void Receive(const std::uint8_t* data, std::size_t length);

  // The pedal's own requests, which the host's dispatcher answers: the
  // universal identity request, and any vendor command with this pedal's
  // model byte. Sent even by a silent pedal.
  void SendIdentityRequest();
  void SendVendorCommand(std::uint8_t command, std::span<const std::uint8_t> payload = {});
  void SendRaw(std::span<const std::uint8_t> message);

  // Messages from the host that were answers to the pedal (its identity
  // replies and status messages), oldest first.
  std::vector<std::vector<std::uint8_t>> HostAnswers() const;
  PedalCounters Counters() const;
  bool InUpdateMode() const;
  std::vector<std::uint8_t> ReadFlash(std::uint32_t address, std::uint32_t size) const;
  VerifyResult Verify(const ImageSource& images) const;

  const Scenario& GetScenario() const { return scenario_; }

 private:
  // Per index: the faults still to apply, oldest first.
  using FaultQueues = std::map<std::uint32_t, std::vector<Fault>>;
  enum class FaultAction { kNone, kStatus, kDrop };

  void HandleVendor(const std::uint8_t* m, std::size_t length);
  void HandleUniversal(const std::uint8_t* m, std::size_t length);
  void HandleErase(const std::uint8_t* m, std::size_t length);
  void HandleWrite(const std::uint8_t* m, std::size_t length);
  void StartRun();
  FaultAction TakeFault(FaultQueues& queues, std::uint32_t index, std::uint8_t& status);
  void Reply(const std::uint8_t* data, std::size_t length);
  void ReplyStatus(std::uint8_t code);

  const Scenario scenario_;
  const Sink toHost_;
  const Tap tap_;

  mutable std::mutex mutex_;
  FlashMemory flash_;
  PedalCounters counters_;
  std::vector<std::vector<std::uint8_t>> hostAnswers_;
  bool inUpdateMode_ = false;
  FaultQueues chunkFaults_;
  FaultQueues eraseFaults_;
  std::uint32_t nextChunkIndex_ = 0;
  std::uint32_t chunkIndex_ = 0;
  std::optional<std::uint32_t> lastWriteAddress_;
  std::uint32_t nextEraseIndex_ = 0;
  std::uint32_t eraseIndex_ = 0;
  std::optional<std::pair<std::uint32_t, std::uint32_t>> lastErase_;
};

}  // namespace kv::sim
