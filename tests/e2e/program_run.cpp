#include "program_run.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace kv::e2e {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kv-e2e-XXXXXX").string();
  if (::mkdtemp(pattern.data()) != nullptr) {
    path_ = pattern;
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) {
    std::filesystem::remove_all(path_, ignored);
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

RunResult RunProgram(const std::string& program, const RunRequest& request) {
  TempDir capture;
  const std::string outPath = capture.File("stdout");
  const std::string errPath = capture.File("stderr");

  std::vector<std::string> envText;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string(*e).rfind("KV_MIDI=", 0) != 0) {
      envText.emplace_back(*e);
    }
  }
  for (const auto& [name, value] : request.env) {
    envText.push_back(name + "=" + value);
  }
  std::vector<char*> envp;
  for (std::string& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argText{program};
  argText.insert(argText.end(), request.args.begin(), request.args.end());
  std::vector<char*> argv;
  for (std::string& a : argText) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (!request.workDir.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, request.workDir.c_str());
  }
  // The child starts with no signal blocked or ignored, whatever this test inherited.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  sigset_t all;
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  RunResult result;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (spawned != 0) {
    result.err = "spawn failed";
    return result;
  }

  bool signalled = request.sendSignal == 0;
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      break;
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    if (!signalled && elapsed >= request.signalAfter) {
      ::kill(pid, request.sendSignal);
      signalled = true;
    }
    if (elapsed >= request.limit) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  result.out = ReadFile(outPath);
  result.err = ReadFile(errPath);
  return result;
}

}  // namespace kv::e2e
