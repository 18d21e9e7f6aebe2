#include "midi/drivers/jack_midi_client_linux.h"

#if defined(KV_HAVE_JACK)

#include <jack/jack.h>
#include <jack/metadata.h>
#include <jack/midiport.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace kv::midi {

namespace {

// A message that no process cycle has taken after this long is given up:
// the server is not running our cycles any more.
constexpr auto kCycleWaitLimit = std::chrono::seconds(5);
constexpr auto kSendWaitSlice = std::chrono::milliseconds(50);
constexpr int kOpenAttempts = 3;
constexpr auto kOpenRetryPause = std::chrono::milliseconds(20);

void SilentJackMessage(const char*) {}

// Clients of this process that have lost their server and are not closed yet.
std::atomic<int>& LostClients() {
  static std::atomic<int> count{0};
  return count;
}

}  // namespace

jack_client_t* OpenJackClient(const std::string& name) {
  SilenceJack();
  // A busy server sometimes fails a request ("communication error"); that
  // is worth another try, a missing server is not.
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    if (LostClients().load() > 0) return nullptr;
    jack_status_t status{};
    if (jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, &status)) return client;
    if ((status & JackServerError) == 0) return nullptr;
    std::this_thread::sleep_for(kOpenRetryPause);
  }
  return nullptr;
}

void SilenceJack() {
  jack_set_error_function(&SilentJackMessage);
  jack_set_info_function(&SilentJackMessage);
}

struct JackMidiClientCallbacks {
  static int Process(jack_nframes_t frames, void* self) {
    static_cast<JackMidiClient*>(self)->Process(frames);
    return 0;
  }
  static void Shutdown(jack_status_t, const char*, void* self) {
    static_cast<JackMidiClient*>(self)->Shutdown();
  }
};

std::unique_ptr<JackMidiClient> JackMidiClient::Open(const JackClientOptions& options) {
  std::unique_ptr<JackMidiClient> self(new JackMidiClient());
  self->client_ = OpenJackClient(options.clientName);
  if (self->client_ == nullptr) return nullptr;
  if (!options.outPortName.empty()) {
    const std::size_t cycleBytes = jack_port_type_get_buffer_size(self->client_, JACK_DEFAULT_MIDI_TYPE);
    self->outBytes_ = std::make_unique<std::uint8_t[]>(std::max(kJackMaxMessageBytes, cycleBytes));
  }
  if (!options.inPortName.empty()) self->inRing_ = std::make_unique<SpscRecordRing>(options.inputRingBytes);
  jack_set_process_callback(self->client_, &JackMidiClientCallbacks::Process, self.get());
  jack_on_info_shutdown(self->client_, &JackMidiClientCallbacks::Shutdown, self.get());
  if (jack_activate(self->client_) != 0) return nullptr;

  // The ports come after the activation: another client that finds them can
  // connect to them at once, which it could not while this one was inactive.
  const auto midiPort = [&](const std::string& name, unsigned long flags) {
    return jack_port_register(self->client_, name.c_str(), JACK_DEFAULT_MIDI_TYPE, flags, 0);
  };
  if (!options.outPortName.empty()) {
    self->outPort_ = midiPort(options.outPortName, JackPortIsOutput);
    if (self->outPort_ == nullptr) return nullptr;
    self->cycleOutPort_.store(self->outPort_, std::memory_order_release);
  }
  if (!options.inPortName.empty()) {
    self->inPort_ = midiPort(options.inPortName, JackPortIsInput);
    if (self->inPort_ == nullptr) return nullptr;
    self->cycleInPort_.store(self->inPort_, std::memory_order_release);
  }
  if (!options.prettyName.empty()) {
    for (jack_port_t* port : {self->outPort_, self->inPort_}) {
      if (port == nullptr) continue;
      if (jack_set_property(self->client_, jack_port_uuid(port), JACK_METADATA_PRETTY_NAME,
                            options.prettyName.c_str(), nullptr) == 0) {
        self->prettyNamesSet_ = true;
      }
    }
  }
  return self;
}

bool JackMidiClient::ServerAnswers() {
  if (!alive_.load()) return false;
  char* uuid = jack_get_uuid_for_client_name(client_, jack_get_client_name(client_));
  if (uuid == nullptr) {
    Shutdown();
    return false;
  }
  jack_free(uuid);
  return true;
}

void JackMidiClient::Cancel() {
  closing_.store(true);
  outSignal_.release();
  SignalInput();
}

JackMidiClient::~JackMidiClient() {
  if (client_ == nullptr) return;
  // After the server has gone only closing is safe: the client's link to the
  // server is already torn down.
  if (alive_.load()) {
    if (prettyNamesSet_) {
      for (jack_port_t* port : {outPort_, inPort_}) {
        if (port != nullptr) jack_remove_properties(client_, jack_port_uuid(port));
      }
    }
    jack_deactivate(client_);
  }
  jack_client_close(client_);
  // No notice comes after the close; one that came during it is counted too.
  if (lostCounted_.load()) LostClients().fetch_sub(1);
}

std::string JackMidiClient::OutPortName() const {
  return outPort_ != nullptr ? jack_port_name(outPort_) : std::string();
}

std::string JackMidiClient::InPortName() const {
  return inPort_ != nullptr ? jack_port_name(inPort_) : std::string();
}

bool JackMidiClient::ConnectOutputTo(const std::string& port) {
  return outPort_ != nullptr && jack_connect(client_, jack_port_name(outPort_), port.c_str()) == 0;
}

bool JackMidiClient::ConnectInputFrom(const std::string& port) {
  return inPort_ != nullptr && jack_connect(client_, port.c_str(), jack_port_name(inPort_)) == 0;
}

MmResult JackMidiClient::Send(const std::uint8_t* data, std::size_t length) {
  std::lock_guard lock(sendMutex_);
  if (outPort_ == nullptr || closing_.load()) return kMmInvalidHandle;
  if (!alive_.load()) return kMmError;
  if (data == nullptr || length == 0) return kMmInvalidParam;
  // A cycle's buffer holds the event and the buffer's own bookkeeping; a
  // message that cannot fit one never leaves, so it fails here, loudly.
  const std::size_t cycleBytes = jack_port_type_get_buffer_size(client_, JACK_DEFAULT_MIDI_TYPE);
  if (length > kJackMaxMessageBytes || length >= cycleBytes) return kMmInvalidParam;
  // With nothing connected the bytes would go nowhere: that is no send.
  if (jack_port_connected(outPort_) == 0) return kMmError;

  std::memcpy(outBytes_.get(), data, length);
  outLength_ = length;
  outState_.store(kPending, std::memory_order_release);
  const auto deadline = std::chrono::steady_clock::now() + kCycleWaitLimit;
  for (;;) {
    const int state = outState_.load(std::memory_order_acquire);
    if (state == kSent || state == kFailed) {
      outState_.store(kIdle, std::memory_order_relaxed);
      return state == kSent ? kMmNoError : kMmError;
    }
    if (state == kPending &&
        (!alive_.load() || closing_.load() || std::chrono::steady_clock::now() > deadline)) {
      int expected = kPending;
      if (outState_.compare_exchange_strong(expected, kIdle)) return kMmError;
      continue;  // a cycle took it just now; it finishes within that cycle
    }
    [[maybe_unused]] const bool signalled = outSignal_.try_acquire_for(kSendWaitSlice);
  }
}

bool JackMidiClient::Receive(std::vector<std::uint8_t>& event) {
  if (inRing_ == nullptr) return false;
  for (;;) {
    const std::uint32_t seen = inSignal_.load(std::memory_order_acquire);
    if (wakeRequested_.exchange(false)) return false;
    if (inRing_->Read(event)) return true;
    if (!alive_.load() || closing_.load()) return false;
    inSignal_.wait(seen, std::memory_order_acquire);
  }
}

void JackMidiClient::Wake() {
  wakeRequested_.store(true);
  SignalInput();
}

void JackMidiClient::SignalInput() {
  inSignal_.fetch_add(1, std::memory_order_release);
  inSignal_.notify_all();
}

void JackMidiClient::Process(std::uint32_t frames) {
  if (jack_port_t* outPort = cycleOutPort_.load(std::memory_order_acquire)) {
    void* buffer = jack_port_get_buffer(outPort, frames);
    jack_midi_clear_buffer(buffer);
    int expected = kPending;
    if (outState_.load(std::memory_order_acquire) == kPending &&
        outState_.compare_exchange_strong(expected, kTaken, std::memory_order_acquire)) {
      const bool written = jack_midi_event_write(buffer, 0, outBytes_.get(), outLength_) == 0;
      outState_.store(written ? kSent : kFailed, std::memory_order_release);
      outSignal_.release();
    }
  }
  if (jack_port_t* inPort = cycleInPort_.load(std::memory_order_acquire)) {
    void* buffer = jack_port_get_buffer(inPort, frames);
    const std::uint32_t count = jack_midi_get_event_count(buffer);
    bool any = false;
    for (std::uint32_t i = 0; i < count; ++i) {
      jack_midi_event_t event;
      if (jack_midi_event_get(&event, buffer, i) != 0) continue;
      if (inRing_->Write(event.buffer, event.size)) {
        any = true;
      } else {
        dropped_.fetch_add(1, std::memory_order_relaxed);
      }
    }
    if (any) SignalInput();
  }
}

void JackMidiClient::Shutdown() {
  // The server has gone or has thrown the client out: a sender waiting for a
  // cycle and a reader waiting for events must both return.
  alive_.store(false);
  if (!lostCounted_.exchange(true)) LostClients().fetch_add(1);
  outSignal_.release();
  SignalInput();
}

}  // namespace kv::midi

#endif  // KV_HAVE_JACK
