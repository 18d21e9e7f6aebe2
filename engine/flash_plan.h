// The fixed plan of nine flash operations: five erasures and four writes.
#pragma once

#include <cstdint>

namespace kv {

struct FlashStep {
  std::int32_t operation;   // 1 erase, 2 write, anything else: nothing
  std::int32_t address;
  std::int32_t size;        // write rows: 0 means the size of the image
  std::int32_t resourceId;  // write rows: the image; 0 in erase rows
};

constexpr std::int32_t kOperationErase = 1;
constexpr std::int32_t kOperationWrite = 2;
constexpr int kFlashPlanSteps = 9;
constexpr std::int32_t kChunkSize = 2048;
constexpr int kMaxSends = 7;  // the first send and at most six repeats

extern const FlashStep FlashPlan[kFlashPlanSteps];

}  // namespace kv
