// A program started by a test and ended with it: SIGTERM, then waited for;
// killed outright if it has not ended within a few seconds.
#pragma once

#include <sys/types.h>

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
  // going to `logPath` (or nowhere). False when it could not be started.
  bool Start(const std::vector<std::string>& args, const std::string& logPath = "/dev/null");
  bool Running();
  // Ends the program; its exit status as waitpid gives it, or -1 when none ran.
  int Stop();

 private:
  pid_t pid_ = -1;
};

}  // namespace kv::test
