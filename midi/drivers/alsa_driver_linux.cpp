#include "midi/drivers/alsa_driver_linux.h"

#if defined(KV_HAVE_ALSA)

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

namespace kv::midi {

namespace {

// A write that has made no progress for this long is given up: the device
// takes no bytes any more. The drain after it is bounded by the kernel.
constexpr auto kWriteStallLimit = std::chrono::seconds(5);
constexpr int kPollSliceMs = 100;

void SilentAlsaError(const char*, int, const char*, int, const char*, ...) {}

// An eventfd that ends a poll from another thread.
class WakeFd {
 public:
  WakeFd() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~WakeFd() {
    if (fd_ >= 0) close(fd_);
  }
  WakeFd(const WakeFd&) = delete;
  WakeFd& operator=(const WakeFd&) = delete;

  bool Valid() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  void Signal() {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(fd_, &one, sizeof one);
  }

 private:
  int fd_;
};

// The rawmidi stream's poll descriptors followed by the wake descriptor.
std::vector<pollfd> PollSet(snd_rawmidi_t* rawmidi, const WakeFd& wake) {
  const int count = snd_rawmidi_poll_descriptors_count(rawmidi);
  std::vector<pollfd> fds(count > 0 ? static_cast<std::size_t>(count) + 1 : 1);
  if (count > 0) snd_rawmidi_poll_descriptors(rawmidi, fds.data(), static_cast<unsigned>(count));
  fds.back() = pollfd{wake.Fd(), POLLIN, 0};
  return fds;
}

unsigned short StreamEvents(snd_rawmidi_t* rawmidi, std::vector<pollfd>& fds) {
  unsigned short events = 0;
  if (fds.size() > 1) {
    snd_rawmidi_poll_descriptors_revents(rawmidi, fds.data(), static_cast<unsigned>(fds.size() - 1),
                                         &events);
  }
  return events;
}

// Every rawmidi subdevice of every card that has the stream asked for.
std::vector<ListedPort> EnumeratePorts(snd_rawmidi_stream_t stream) {
  std::vector<ListedPort> found;
  snd_ctl_card_info_t* cardInfo = nullptr;
  snd_rawmidi_info_t* info = nullptr;
  if (snd_ctl_card_info_malloc(&cardInfo) < 0) return found;
  if (snd_rawmidi_info_malloc(&info) < 0) {
    snd_ctl_card_info_free(cardInfo);
    return found;
  }
  int card = -1;
  while (snd_card_next(&card) == 0 && card >= 0) {
    const std::string cardName = "hw:" + std::to_string(card);
    snd_ctl_t* control = nullptr;
    if (snd_ctl_open(&control, cardName.c_str(), 0) < 0) continue;
    if (snd_ctl_card_info(control, cardInfo) == 0) {
      const std::string productName = snd_ctl_card_info_get_name(cardInfo);
      int device = -1;
      while (snd_ctl_rawmidi_next_device(control, &device) == 0 && device >= 0) {
        snd_rawmidi_info_set_device(info, static_cast<unsigned>(device));
        snd_rawmidi_info_set_subdevice(info, 0);
        snd_rawmidi_info_set_stream(info, stream);
        if (snd_ctl_rawmidi_info(control, info) < 0) continue;  // not this direction
        const unsigned subdevices = snd_rawmidi_info_get_subdevices_count(info);
        for (unsigned sub = 0; sub < subdevices; ++sub) {
          snd_rawmidi_info_set_subdevice(info, sub);
          if (snd_ctl_rawmidi_info(control, info) < 0) continue;
          found.push_back(ListedPort{
              cardName + "," + std::to_string(device) + "," + std::to_string(sub),
              PortNaming{productName, cardName}});
        }
      }
    }
    snd_ctl_close(control);
  }
  snd_rawmidi_info_free(info);
  snd_ctl_card_info_free(cardInfo);
  return found;
}

}  // namespace

// One open output subdevice. Messages are written on the sender's thread;
// Close ends a write that is still waiting for room, which then fails.
class AlsaOutput final : public OutputStream {
 public:
  explicit AlsaOutput(snd_rawmidi_t* rawmidi) : rawmidi_(rawmidi) {}
  ~AlsaOutput() override { Close(); }
  AlsaOutput(const AlsaOutput&) = delete;
  AlsaOutput& operator=(const AlsaOutput&) = delete;

  bool Ready() const { return wake_.Valid(); }

  MmResult Send(const std::uint8_t* data, std::size_t length) override {
    std::lock_guard lock(sendMutex_);
    if (rawmidi_ == nullptr || closing_.load()) return kMmInvalidHandle;
    std::vector<pollfd> fds = PollSet(rawmidi_, wake_);
    std::size_t sent = 0;
    auto lastProgress = std::chrono::steady_clock::now();
    while (sent < length) {
      if (closing_.load()) return kMmError;
      const ssize_t written = snd_rawmidi_write(rawmidi_, data + sent, length - sent);
      if (written > 0) {
        sent += static_cast<std::size_t>(written);
        lastProgress = std::chrono::steady_clock::now();
        continue;
      }
      if (written != -EAGAIN && written != -EINTR && written != 0) return kMmError;  // device gone
      if (std::chrono::steady_clock::now() - lastProgress > kWriteStallLimit) return kMmError;
      poll(fds.data(), fds.size(), kPollSliceMs);
      if ((StreamEvents(rawmidi_, fds) & (POLLERR | POLLHUP | POLLNVAL)) != 0) return kMmError;
    }
    // Done means sent: wait until the device has taken every byte.
    return snd_rawmidi_drain(rawmidi_) < 0 ? kMmError : kMmNoError;
  }

  void Close() override {
    closing_.store(true);
    wake_.Signal();
    std::lock_guard lock(sendMutex_);
    if (rawmidi_ != nullptr) snd_rawmidi_close(rawmidi_);
    rawmidi_ = nullptr;
  }

 private:
  snd_rawmidi_t* rawmidi_;
  WakeFd wake_;
  std::atomic<bool> closing_{false};
  std::mutex sendMutex_;
};

// One open input subdevice with its reader thread. Bytes are read whether or
// not input runs, so nothing stale waits in the kernel for the next start.
class AlsaInput final : public InputStream {
 public:
  AlsaInput(snd_rawmidi_t* rawmidi, MidiHandle handle, MidiInCallback callback,
            std::uintptr_t instance)
      : rawmidi_(rawmidi), input_(handle, callback, instance) {}
  ~AlsaInput() override { Close(); }
  AlsaInput(const AlsaInput&) = delete;
  AlsaInput& operator=(const AlsaInput&) = delete;

  bool Begin() {
    if (!wake_.Valid()) return false;
    reader_ = std::thread([this] { Read(); });
    return true;
  }

  LentBufferInput& Input() override { return input_; }

  void Close() override {
    stopping_.store(true);
    wake_.Signal();
    if (reader_.joinable()) reader_.join();
    if (rawmidi_ != nullptr) snd_rawmidi_close(rawmidi_);
    rawmidi_ = nullptr;
  }

 private:
  void Read() {
    std::vector<pollfd> fds = PollSet(rawmidi_, wake_);
    std::uint8_t bytes[4096];
    while (!stopping_.load()) {
      if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) return;
      if (stopping_.load()) return;
      const unsigned short events = StreamEvents(rawmidi_, fds);
      if ((events & (POLLERR | POLLHUP | POLLNVAL)) != 0) return;  // the device has gone
      if ((events & POLLIN) == 0) continue;
      const ssize_t count = snd_rawmidi_read(rawmidi_, bytes, sizeof bytes);
      if (count > 0) {
        input_.Feed(bytes, static_cast<std::size_t>(count));
      } else if (count != -EAGAIN && count != -EINTR) {
        return;
      }
    }
  }

  snd_rawmidi_t* rawmidi_;
  WakeFd wake_;
  LentBufferInput input_;
  std::atomic<bool> stopping_{false};
  std::thread reader_;
};

AlsaDriver::AlsaDriver() { snd_lib_error_set_handler(&SilentAlsaError); }

std::vector<ListedPort> AlsaDriver::ListPorts(bool output) {
  return EnumeratePorts(output ? SND_RAWMIDI_STREAM_OUTPUT : SND_RAWMIDI_STREAM_INPUT);
}

MmResult AlsaDriver::OpenOutput(const std::string& address, std::shared_ptr<OutputStream>& stream) {
  snd_rawmidi_t* rawmidi = nullptr;
  if (snd_rawmidi_open(nullptr, &rawmidi, address.c_str(), SND_RAWMIDI_NONBLOCK) < 0) return kMmError;
  auto output = std::make_shared<AlsaOutput>(rawmidi);
  if (!output->Ready()) return kMmNoMemory;
  stream = std::move(output);
  return kMmNoError;
}

MmResult AlsaDriver::OpenInput(const std::string& address, MidiHandle handle, MidiInCallback callback,
                               std::uintptr_t instance, std::shared_ptr<InputStream>& stream) {
  snd_rawmidi_t* rawmidi = nullptr;
  if (snd_rawmidi_open(&rawmidi, nullptr, address.c_str(), SND_RAWMIDI_NONBLOCK) < 0) return kMmError;
  auto input = std::make_shared<AlsaInput>(rawmidi, handle, callback, instance);
  if (!input->Begin()) return kMmNoMemory;
  stream = std::move(input);
  return kMmNoError;
}

}  // namespace kv::midi

#endif  // KV_HAVE_ALSA
