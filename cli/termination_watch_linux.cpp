#include <signal.h>
#include <time.h>
#include <unistd.h>

#include "cli/termination_watch.h"

namespace kv::cli {

namespace {

sigset_t TerminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

void BeginTerminationWatch() {
  // Blocked in every thread: they stay pending until sigtimedwait takes them.
  const sigset_t set = TerminationSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int WaitForTermination(std::chrono::milliseconds timeout) {
  const sigset_t set = TerminationSignals();
  const auto count = timeout.count();
  timespec wait{static_cast<time_t>(count / 1000), static_cast<long>((count % 1000) * 1000000)};
  const int signal = sigtimedwait(&set, nullptr, &wait);
  return signal > 0 ? signal : 0;
}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

}  // namespace kv::cli
