// Every wait and pause of the protocol, in one place.
//
// The engine takes a ProtocolTimes by value so that tests can run whole
// updates with the waits scaled down; production code uses kProductionTimes.
// The 1 ms timer period and the 1 ms done-flag sleep stay as they are in any
// scaling: they are the floor of how fast the host can react.
#pragma once

#include <cstdint>

namespace kv {

struct ProtocolTimes {
  std::uint32_t identityWaitMs;   // identity request -> identity reply
  std::uint32_t modePauseMs;      // update mode accepted -> first plan step
  std::uint32_t finishWaitMs;     // finish request -> any reply
  std::uint32_t eraseWaitMs;      // erase request -> status
  std::uint32_t chunkWaitMs;      // write-data message -> status
  std::uint32_t repeatPauseMs;    // before a message is sent again
};

constexpr ProtocolTimes kProductionTimes{30000, 500, 30000, 30000, 1000, 100};

// Divides every wait and pause by `divisor`, keeping each at least 1 ms.
constexpr ProtocolTimes ScaledTimes(std::uint32_t divisor) {
  auto scale = [divisor](std::uint32_t ms) { return ms / divisor > 0 ? ms / divisor : 1u; };
  return ProtocolTimes{scale(kProductionTimes.identityWaitMs), scale(kProductionTimes.modePauseMs),
                       scale(kProductionTimes.finishWaitMs),   scale(kProductionTimes.eraseWaitMs),
                       scale(kProductionTimes.chunkWaitMs),    scale(kProductionTimes.repeatPauseMs)};
}

constexpr std::uint32_t kPollPeriodMs = 1;     // the dispatcher's timer period
constexpr std::uint32_t kDoneFlagSleepMs = 1;  // between two tests of a header's done flag

}  // namespace kv
