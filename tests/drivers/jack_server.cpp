#include "tests/drivers/jack_server.h"

#if defined(KV_HAVE_JACK)

#include <jack/jack.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "midi/drivers/jack_midi_client_linux.h"

namespace kv::test {

JackServer::JackServer() {
  static std::atomic<int> counter{0};
  name_ = "kv-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}

bool JackServer::Start(std::string& error, int periodFrames) {
  setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
  setenv("JACK_NO_START_SERVER", "1", 1);
  if (!jackd_.Start({"jackd", "-n", name_, "-R", "-d", "dummy", "-r", "48000", "-p",
                     std::to_string(periodFrames)})) {
    error = "jackd could not be started (is jackd2 installed?)";
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (std::chrono::steady_clock::now() < deadline) {
    if (!jackd_.Running()) {
      error = "jackd ended during start-up";
      return false;
    }
    if (jack_client_t* client = kv::midi::OpenJackClient("kv-test-wait")) {
      jack_client_close(client);
      started_ = true;
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  error = "jackd did not take clients within 15 s";
  jackd_.Stop();
  return false;
}

void JackServer::Stop() {
  jackd_.Stop();
  if (!started_) return;
  started_ = false;
  std::error_code ignored;
  const std::string mark = "_" + name_ + "_";
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored)) {
    const std::string file = entry.path().filename().string();
    if (file.rfind("jack_sem.", 0) == 0 && file.find(mark) != std::string::npos) {
      std::filesystem::remove(entry.path(), ignored);
    }
  }
}

}  // namespace kv::test

#endif  // KV_HAVE_JACK
