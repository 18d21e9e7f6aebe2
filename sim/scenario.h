// How a simulated pedal misbehaves: the model it reports, its answer to the
// update-mode request, and faults injected into chosen erase requests and
// write chunks. Parsed from the same command-line options wherever the
// simulator is hosted.
//
// Counting: write chunk INDEX and erase request INDEX count distinct
// messages of one update run from 0, in the order they first arrive. A
// write-data message for the same address as the write-data message before it
// is a repeat and keeps its index; likewise an erase request for the same
// address and size as the erase request before it. Both counts, and every
// fault's budget, start afresh with each update-mode request, so every run
// against one pedal meets the same scenario.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kv::sim {

// The plan writes 1,908 chunks and sends 5 erase requests; an index beyond
// those would never fire, so the options refuse it.
constexpr std::uint32_t kPlanChunkCount = 1908;
constexpr std::uint32_t kPlanEraseCount = 5;
constexpr std::uint32_t kMaxReplyDelayMs = 60000;
constexpr std::uint32_t kForever = 0xFFFFFFFFu;

// One injected fault: the next `count` arrivals of message `index` are
// answered with `status` (without being carried out), or not answered at all
// (`drop`). Faults for the same index apply in the order they were given.
struct Fault {
  std::uint32_t index = 0;
  bool drop = false;
  std::uint8_t status = 0;
  std::uint32_t count = 1;  // kForever: every arrival

  bool operator==(const Fault&) const = default;
};

struct Scenario {
  std::uint8_t model = 0x5F;            // byte 6 of the identity reply, byte 3 of vendor messages
  std::uint8_t updateModeStatus = 0;    // 11: not in firmware update mode
  bool silent = false;                  // answers nothing at all
  std::vector<Fault> chunkFaults;
  std::vector<Fault> eraseFaults;
  bool noFinishReply = false;
  std::uint32_t replyDelayMs = 0;
  std::string transcriptPath;           // empty: no transcript

  bool operator==(const Scenario&) const = default;
};

enum class OptionResult {
  kNotScenarioOption,  // args[i] is none of the options below; i unchanged
  kConsumed,           // the option and its value were taken; i moved past them
  kError,              // malformed; `error` says why
};

// Looks at args[i]. Takes "--option VALUE" and "--option=VALUE".
OptionResult ParseScenarioOption(std::span<const char* const> args, std::size_t& i, Scenario& scenario,
                                 std::string& error);

// The options' description for a program's --help, one option per line.
const char* ScenarioOptionsHelp();

// Reads "0x..." as hexadecimal and plain digits as decimal; no sign, no
// blanks. False when the text is not such a number or exceeds `max`.
bool ParseNumber(const std::string& text, std::uint64_t max, std::uint64_t& value);

}  // namespace kv::sim
