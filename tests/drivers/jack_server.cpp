#include "tests/drivers/jack_server.h"

#if defined(KV_HAVE_JACK)

#include <fcntl.h>
#include <jack/jack.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "midi/drivers/jack_midi_client_linux.h"

namespace kv::test {

namespace {
constexpr int kSlots = 4;
}

JackServer::JackServer() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (slotLock_ < 0 && std::chrono::steady_clock::now() < deadline) {
    for (int slot = 0; slot < kSlots && slotLock_ < 0; ++slot) {
      const std::string path = "/tmp/kv-jack-test-slot-" + std::to_string(slot) + ".lock";
      const int fd = open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0666);
      if (fd < 0) continue;
      if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
        slotLock_ = fd;
        name_ = "kv-test-" + std::to_string(slot);
      } else {
        close(fd);
      }
    }
    if (slotLock_ < 0) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  // Every slot taken for minutes: a name of this process's own still works.
  if (slotLock_ < 0) name_ = "kv-test-" + std::to_string(getpid());
}

JackServer::~JackServer() {
  Stop();
  if (slotLock_ >= 0) close(slotLock_);
}

bool JackServer::Start(std::string& error, int periodFrames) {
  setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
  setenv("JACK_NO_START_SERVER", "1", 1);
  // Programs started from here on share this process's view of libdb.
  const char* sanitizer = std::getenv("TSAN_OPTIONS");
  std::string options = sanitizer != nullptr ? sanitizer : "";
  if (options.find("suppressions=") == std::string::npos) {
    options += std::string(options.empty() ? "" : ":") + "suppressions=" KV_TSAN_JACK_SUPPRESSIONS;
    setenv("TSAN_OPTIONS", options.c_str(), 1);
  }
  // Several servers starting at once can trip over one another in the shared
  // memory registry they all use; a server that ended during start-up is
  // started once more.
  const std::string log = "/tmp/" + name_ + ".jackd.log";
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (!jackd_.Start({"jackd", "-n", name_, "-R", "-d", "dummy", "-r", "48000", "-p",
                       std::to_string(periodFrames)},
                      log)) {
      error = "jackd could not be started (is jackd2 installed?)";
      return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline && jackd_.Running()) {
      if (jack_client_t* client = kv::midi::OpenJackClient("kv-test-wait")) {
        jack_client_close(client);
        started_ = true;
        std::filesystem::remove(log);
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (jackd_.Running()) {
      error = "jackd did not take clients within 15 s";
      jackd_.Stop();
      return false;
    }
  }
  std::ifstream text(log);
  error = "jackd ended during start-up: " + std::string(std::istreambuf_iterator<char>(text), {});
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

// The same for this process (see tsan_jack.supp).
extern "C" const char* __tsan_default_suppressions() {
  return "deadlock:libdb-5.3.so\nrace:__snprintf_chk\nrace:__vsnprintf_chk\n";
}

#endif  // KV_HAVE_JACK
