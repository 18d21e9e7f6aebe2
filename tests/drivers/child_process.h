// A program started by a test and ended with it: SIGTERM, then waited for;
// killed outright if it has not ended within a few seconds.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace kv::test {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() { Stop(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `args[0]` (looked up in PATH) with its standard output and error
  // going to `logPath` (or nowhere), in `directory` (or this one). False
  // when it could not be started.
  bool Start(const std::vector<std::string>& args, const std::string& logPath = "/dev/null",
             const std::string& directory = {});
  bool Running();
  // Waits up to `limit` for the program to end by itself: its exit code, or
  // -1 when it is still running (or ended by a signal).
  int Wait(std::chrono::milliseconds limit);
  // Ends the program (SIGTERM): its exit code, or -1 when it ended by a
  // signal or none ran.
  int Stop();

 private:
  pid_t pid_ = -1;
};

}  // namespace kv::test
