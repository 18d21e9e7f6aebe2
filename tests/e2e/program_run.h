// Runs a program the way an operator would, in a directory of its own, and
// collects its exit status and output.
#pragma once

#include <chrono>
#include <csignal>
#include <string>
#include <utility>
#include <vector>

namespace kv::e2e {

struct RunResult {
  int exitCode = -1;   // -1 when it did not exit by itself
  int signal = 0;      // the signal that ended it, if any
  std::string out;
  std::string err;
  std::chrono::milliseconds elapsed{0};
};

struct RunRequest {
  std::vector<std::string> args;                            // without the program
  std::vector<std::pair<std::string, std::string>> env;     // added to a clean KV_MIDI-free environment
  std::string workDir;                                      // current directory of the program
  std::chrono::milliseconds limit{std::chrono::seconds(60)};  // killed after this
  // When set: this signal is sent after `signalAfter`.
  int sendSignal = 0;
  std::chrono::milliseconds signalAfter{0};
};

RunResult RunProgram(const std::string& program, const RunRequest& request);

// A fresh empty directory under the system's temporary directory, removed
// with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);

}  // namespace kv::e2e
