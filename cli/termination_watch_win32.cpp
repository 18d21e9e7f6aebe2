#include <io.h>
#include <windows.h>

#include <condition_variable>
#include <csignal>
#include <mutex>

#include "cli/termination_watch.h"

namespace kv::cli {

namespace {

std::mutex watchMutex;
std::condition_variable watchCondition;
int pendingSignal = 0;

// Runs on a thread the console starts for the event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  {
    std::lock_guard lock(watchMutex);
    pendingSignal = (event == CTRL_C_EVENT) ? SIGINT : SIGTERM;
  }
  watchCondition.notify_all();
  return TRUE;
}

}  // namespace

void BeginTerminationWatch() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

int WaitForTermination(std::chrono::milliseconds timeout) {
  std::unique_lock lock(watchMutex);
  watchCondition.wait_for(lock, timeout, [] { return pendingSignal != 0; });
  const int signal = pendingSignal;
  pendingSignal = 0;
  return signal;
}

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

}  // namespace kv::cli
