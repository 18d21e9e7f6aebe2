#include "bench/chunk_figures.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bench/allocation_counter.h"
#include "engine/firmware_images.h"
#include "engine/flash_plan.h"
#include "engine/sysex.h"
#include "engine/update_engine.h"
#include "midi/drivers/loopback_driver.h"
#include "midi/midi_in_port.h"
#include "midi/midi_out_port.h"

namespace kv::bench {
namespace {

constexpr std::int32_t kLargestImage = 137;

class NullObserver final : public UpdateObserver {
 public:
  void SetStatusText(const char*) override {}
  void SetStepText(const char*) override {}
  void SetProgressRange(std::int32_t, std::int32_t) override {}
  void SetProgressPos(std::int32_t) override {}
  void ShowError(int) override {}
  void RestoreControls() override {}
  void EnableExecute(bool) override {}
};

// Real firmware bytes, so the packing meets every high-bit pattern it meets
// in an update.
std::vector<std::uint8_t> Chunks(std::size_t count) {
  const ImageBytes image = EmbeddedImages().Find(kLargestImage);
  std::vector<std::uint8_t> bytes(count * kChunkSize);
  const bool haveImage = image.data != nullptr && image.size > 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = haveImage ? image.data[i % image.size] : static_cast<std::uint8_t>(i * 131);
  }
  return bytes;
}

}  // namespace

std::optional<double> AllocationsPerChunk(int chunks) {
  if (chunks <= 0) {
    return std::nullopt;
  }
  midi::LoopbackDriver driver("kv-bench");
  driver.SetDeviceHandler([](std::uint32_t, const std::uint8_t*, std::size_t) {});
  midi::CMidiInPort inPort(driver);
  midi::CMidiOutPort outPort(driver);
  NullObserver observer;
  CUpdateEngine engine(outPort, inPort, observer);
  if (outPort.Open(0) != 1) {
    return std::nullopt;
  }
  constexpr std::size_t kDistinctChunks = 16;
  const std::vector<std::uint8_t> data = Chunks(kDistinctChunks);

  // The counter must see an allocation the path would make, or a 0 below
  // would only say that the counting operators are not in place.
  {
    CountAllocations probeCounter;
    const std::string probe(data.size(), 'x');
    if (probeCounter.Count() == 0 || probe.size() != data.size()) {
      return std::nullopt;
    }
  }

  std::uint64_t allocations = 0;
  bool allSent = true;
  {
    CountAllocations counter;
    for (int i = 0; i < chunks; ++i) {
      const std::size_t slot = static_cast<std::size_t>(i) % kDistinctChunks;
      allSent &= engine.SendWriteChunk(data.data() + slot * kChunkSize, i * kChunkSize,
                                       static_cast<std::size_t>(kChunkSize)) == 0;
    }
    allocations = counter.Count();
  }
  if (!allSent) {
    return std::nullopt;
  }
  return static_cast<double>(allocations) / chunks;
}

double PackCrcNsPerChunk(int iterations) {
  std::vector<std::uint8_t> chunk = Chunks(1);
  std::vector<std::uint8_t> packed(PackedLength(kChunkSize));
  std::uint32_t sink = 0;
  auto once = [&](int i) {
    // A byte that changes each time, and a result that is used, so that
    // neither call can be hoisted out of the loop or dropped.
    chunk[0] = static_cast<std::uint8_t>(i);
    const std::size_t n = PackSevenBit(packed.data(), chunk.data(), chunk.size());
    sink += Crc32(chunk.data(), chunk.size()) + packed[n - 1];
  };
  for (int i = 0; i < 100; ++i) {
    once(i);  // warm the caches and the branch predictor
  }
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < iterations; ++i) {
    once(i);
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  volatile std::uint32_t consumed = sink;
  static_cast<void>(consumed);
  return std::chrono::duration<double, std::nano>(elapsed).count() / (iterations > 0 ? iterations : 1);
}

}  // namespace kv::bench
