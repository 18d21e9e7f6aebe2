// A JACK client in a process of its own that sends back every event it
// receives: the other end of the driver tests. Usage: jack-echo NAME. Its
// ports are NAME:in and NAME:out, both with NAME as pretty name. Ends on
// SIGTERM or SIGINT.
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "midi/drivers/jack_midi_client_linux.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: jack-echo NAME\n");
    return 2;
  }
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);  // every thread made from here on too

  auto client = kv::midi::JackMidiClient::Open(kv::midi::JackClientOptions{argv[1], "out", "in", argv[1]});
  if (!client) {
    std::fprintf(stderr, "jack-echo: no JACK server\n");
    return 1;
  }
  std::thread echo([&client] {
    std::vector<std::uint8_t> event;
    while (client->Receive(event)) client->Send(event.data(), event.size());
  });
  int signal = 0;
  sigwait(&stopSignals, &signal);
  client->Cancel();
  echo.join();
  return 0;
}
