// Ctrl+C and termination requests, taken as events the main thread waits
// for instead of handlers that interrupt whatever runs.
#pragma once

#include <chrono>
#include <cstdio>

namespace kv::cli {

// Call before any thread starts, so that every thread inherits the setting.
void BeginTerminationWatch();

// Waits up to `timeout` for SIGINT or SIGTERM (Ctrl+C, Ctrl+Break or a close
// request on Windows). Returns the signal number (SIGINT 2, SIGTERM 15), or 0.
int WaitForTermination(std::chrono::milliseconds timeout);

bool IsTerminal(std::FILE* stream);

}  // namespace kv::cli
