// One JACK client with a MIDI output port, a MIDI input port, or both: what
// the JACK driver opens per device and what hosts the simulated pedal.
//
// The server's process callback runs on a real-time thread, so it only moves
// bytes: a message to send waits in a one-message mailbox that the next cycle
// writes as one whole event, and received events go into a lock-free ring
// that a normal thread drains with Receive. Nothing there allocates or locks.
//
// Quiet: the client never starts a server, and libjack's error and info
// printers are replaced by silent ones, so a machine without a server shows
// nothing and prints nothing.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <semaphore>
#include <string>
#include <vector>

#include "midi/drivers/midi_driver.h"
#include "midi/drivers/spsc_record_ring.h"

typedef struct _jack_client jack_client_t;
typedef struct _jack_port jack_port_t;

namespace kv::midi {

// The largest message the mailbox takes (more than the longest one the
// protocol sends); a longer one fails.
constexpr std::size_t kJackMaxMessageBytes = 64 * 1024;

// Silences libjack's own printing for the whole process.
void SilenceJack();

// Every client of this process is opened here: quietly, never starting a
// server. Null when no server runs, and also while a client of this process
// that has lost its server is still open: libjack keeps process-wide state,
// and a failed open at that time makes the later close of the lost client
// crash. Such a client is counted from its shutdown notice until it is closed.
jack_client_t* OpenJackClient(const std::string& name);

struct JackClientOptions {
  std::string clientName;     // the server renames a name already taken
  std::string outPortName;    // empty: no output port
  std::string inPortName;     // empty: no input port
  std::string prettyName;     // shown for the ports where the server keeps metadata; empty: none
  std::size_t inputRingBytes = 256 * 1024;
};

class JackMidiClient {
 public:
  // Null when no server runs or the client or a port cannot be made.
  static std::unique_ptr<JackMidiClient> Open(const JackClientOptions& options);
  ~JackMidiClient();
  JackMidiClient(const JackMidiClient&) = delete;
  JackMidiClient& operator=(const JackMidiClient&) = delete;

  jack_client_t* Raw() const { return client_; }
  std::string OutPortName() const;  // full "client:port" names
  std::string InPortName() const;

  bool ConnectOutputTo(const std::string& port);
  bool ConnectInputFrom(const std::string& port);

  // Hands `data` to the next process cycle as one event and returns once
  // that cycle has taken it: kMmNoError then. An error when the message is
  // too long for the mailbox or for a cycle's buffer, when the output is
  // connected nowhere, when the server has gone or the client is closing, or
  // when no cycle took the message within a few seconds.
  MmResult Send(const std::uint8_t* data, std::size_t length);

  // One consumer thread: the next received event. Waits until one arrives;
  // false once Wake was called or the server has gone, with nothing read.
  bool Receive(std::vector<std::uint8_t>& event);
  void Wake();

  // Makes a Send or Receive in progress return, and every later one fail.
  void Cancel();

  bool Alive() const { return alive_.load(); }
  // Asks the server something: false, and the client counts as lost, when
  // it no longer answers (its shutdown notice may still be on the way).
  bool ServerAnswers();
  std::uint64_t DroppedEvents() const { return dropped_.load(); }

 private:
  friend struct JackMidiClientCallbacks;
  JackMidiClient() = default;
  void Process(std::uint32_t frames);
  void Shutdown();
  void SignalInput();

  enum : int { kIdle, kPending, kTaken, kSent, kFailed };

  jack_client_t* client_ = nullptr;
  jack_port_t* outPort_ = nullptr;
  jack_port_t* inPort_ = nullptr;
  // The same ports as the process cycle sees them: registered after the
  // activation, so the cycle may run before they exist.
  std::atomic<jack_port_t*> cycleOutPort_{nullptr};
  std::atomic<jack_port_t*> cycleInPort_{nullptr};
  bool prettyNamesSet_ = false;
  std::atomic<bool> alive_{true};  // false from the server's shutdown notice on
  std::atomic<bool> lostCounted_{false};
  std::atomic<bool> closing_{false};

  // Output mailbox: the sender fills it while idle and marks it pending; the
  // process cycle takes it and marks it sent or failed.
  std::mutex sendMutex_;
  std::unique_ptr<std::uint8_t[]> outBytes_;
  std::size_t outLength_ = 0;
  std::atomic<int> outState_{kIdle};
  std::counting_semaphore<> outSignal_{0};

  // Input: events as they came, and a counter the consumer waits on.
  std::unique_ptr<SpscRecordRing> inRing_;
  std::atomic<std::uint32_t> inSignal_{0};
  std::atomic<bool> wakeRequested_{false};
  std::atomic<std::uint64_t> dropped_{0};
};

}  // namespace kv::midi
