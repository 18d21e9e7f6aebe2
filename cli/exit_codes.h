// What kv-update's exit status means; --help lists the same.
#pragma once

namespace kv::cli {

constexpr int kExitCompleted = 0;      // "Version update completed." (and, simulated, the flash verified)
constexpr int kExitUpdateFailed = 1;   // the run ended with an error box, or without completing
constexpr int kExitUsage = 2;          // unknown option or malformed value; nothing was sent
constexpr int kExitPortProblem = 3;    // no such port, or a port could not be opened
constexpr int kExitFlashMismatch = 4;  // completed, but the simulated flash does not hold the images
constexpr int kExitInterruptedBase = 128;  // + the signal number: interrupted (130 SIGINT, 143 SIGTERM)

}  // namespace kv::cli
