#include "midi/drivers/jack_driver_linux.h"

#if defined(KV_HAVE_JACK)

#include <jack/jack.h>
#include <jack/metadata.h>

#include <atomic>
#include <thread>

#include "midi/drivers/jack_midi_client_linux.h"

namespace kv::midi {

namespace {

const std::string kOutClientName = std::string(kJackClientPrefix) + "-out";
const std::string kInClientName = std::string(kJackClientPrefix) + "-in";
const std::string kProbeClientName = std::string(kJackClientPrefix) + "-probe";

std::string PrettyName(jack_client_t* client, const char* portName) {
  jack_port_t* port = jack_port_by_name(client, portName);
  if (port == nullptr) return {};
  char* value = nullptr;
  char* type = nullptr;
  std::string pretty;
  if (jack_get_property(jack_port_uuid(port), JACK_METADATA_PRETTY_NAME, &value, &type) == 0 &&
      value != nullptr) {
    pretty = value;
  }
  if (value != nullptr) jack_free(value);
  if (type != nullptr) jack_free(type);
  return pretty;
}

class JackOutput final : public OutputStream {
 public:
  explicit JackOutput(std::unique_ptr<JackMidiClient> client) : client_(std::move(client)) {}
  MmResult Send(const std::uint8_t* data, std::size_t length) override {
    return client_->Send(data, length);
  }
  // The client itself goes with the last user of this stream.
  void Close() override { client_->Cancel(); }

 private:
  std::unique_ptr<JackMidiClient> client_;
};

class JackInput final : public InputStream {
 public:
  JackInput(std::unique_ptr<JackMidiClient> client, MidiHandle handle, MidiInCallback callback,
            std::uintptr_t instance)
      : client_(std::move(client)), input_(handle, callback, instance) {
    reader_ = std::thread([this] { Read(); });
  }
  ~JackInput() override { Close(); }
  JackInput(const JackInput&) = delete;
  JackInput& operator=(const JackInput&) = delete;

  LentBufferInput& Input() override { return input_; }

  void Close() override {
    stopping_.store(true);
    client_->Wake();
    if (reader_.joinable()) reader_.join();
  }

 private:
  void Read() {
    std::vector<std::uint8_t> event;
    while (!stopping_.load() && client_->Receive(event)) input_.Feed(event.data(), event.size());
  }

  std::unique_ptr<JackMidiClient> client_;
  LentBufferInput input_;
  std::atomic<bool> stopping_{false};
  std::thread reader_;
};

}  // namespace

JackDriver::JackDriver() { SilenceJack(); }

JackDriver::~JackDriver() = default;

void JackDriver::ReleaseLostProbeLocked() {
  // A client whose server has gone must be closed before this process may
  // open another one (see OpenJackClient), and a list read through it would
  // show the ports of a server that is no more. Asking the server finds that
  // out before its notice arrives.
  if (probe_ && !probe_->ServerAnswers()) probe_.reset();
}

std::vector<ListedPort> JackDriver::ListPorts(bool output) {
  std::vector<ListedPort> found;
  std::lock_guard lock(probeMutex_);
  ReleaseLostProbeLocked();
  if (!probe_) probe_ = JackMidiClient::Open(JackClientOptions{kProbeClientName, {}, {}, {}});
  if (!probe_) return found;  // no server: no devices
  jack_client_t* probe = probe_->Raw();
  // Our output devices are the ports that take input, and the other way round.
  const char** ports =
      jack_get_ports(probe, nullptr, JACK_DEFAULT_MIDI_TYPE, output ? JackPortIsInput : JackPortIsOutput);
  for (std::size_t i = 0; ports != nullptr && ports[i] != nullptr; ++i) {
    const std::string portName = ports[i];
    const std::string clientName = portName.substr(0, portName.find(':'));
    if (clientName.rfind(kJackClientPrefix, 0) == 0) continue;  // this program's own clients
    std::string productName = PrettyName(probe, ports[i]);
    if (productName.empty()) productName = clientName;
    found.push_back(ListedPort{portName, PortNaming{productName, clientName}});
  }
  if (ports != nullptr) jack_free(ports);
  return found;
}

MmResult JackDriver::OpenOutput(const std::string& address, std::shared_ptr<OutputStream>& stream) {
  {
    std::lock_guard lock(probeMutex_);
    ReleaseLostProbeLocked();
  }
  auto client = JackMidiClient::Open(JackClientOptions{kOutClientName, "out", {}, {}});
  if (!client) return kMmError;
  if (!client->ConnectOutputTo(address)) return kMmError;  // the port has gone since the list
  stream = std::make_shared<JackOutput>(std::move(client));
  return kMmNoError;
}

MmResult JackDriver::OpenInput(const std::string& address, MidiHandle handle, MidiInCallback callback,
                               std::uintptr_t instance, std::shared_ptr<InputStream>& stream) {
  {
    std::lock_guard lock(probeMutex_);
    ReleaseLostProbeLocked();
  }
  auto client = JackMidiClient::Open(JackClientOptions{kInClientName, {}, "in", {}});
  if (!client) return kMmError;
  if (!client->ConnectInputFrom(address)) return kMmError;
  stream = std::make_shared<JackInput>(std::move(client), handle, callback, instance);
  return kMmNoError;
}

}  // namespace kv::midi

#endif  // KV_HAVE_JACK
