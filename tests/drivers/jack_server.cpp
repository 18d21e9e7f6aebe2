#include "tests/drivers/jack_server.h"

#include <fcntl.h>
#include <jack/jack.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "midi/drivers/jack_midi_client_linux.h"

extern char** environ;

namespace kv::test {

JackServer::JackServer() {
  static std::atomic<int> counter{0};
  name_ = "kv-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

JackServer::~JackServer() { Stop(); }

bool JackServer::Start(std::string& error, int periodFrames) {
  setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
  setenv("JACK_NO_START_SERVER", "1", 1);
  const std::string period = std::to_string(periodFrames);
  std::vector<std::string> args = {"jackd", "-n", name_, "-R", "-d", "dummy", "-r", "48000", "-p", period};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  const int spawned = posix_spawnp(&pid_, "jackd", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    pid_ = -1;
    error = "jackd could not be started (is jackd2 installed?)";
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      error = "jackd ended during start-up";
      return false;
    }
    jack_client_t* client = kv::midi::OpenJackClient("kv-test-wait");
    if (client != nullptr) {
      jack_client_close(client);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  error = "jackd did not take clients within 15 s";
  Stop();
  return false;
}

void JackServer::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  // A server that ignores TERM for long is killed, so no test waits forever.
  for (int i = 0; i < 200; ++i) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

}  // namespace kv::test
