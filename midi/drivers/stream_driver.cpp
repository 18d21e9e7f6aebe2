#include "midi/drivers/stream_driver.h"

#include <chrono>
#include <thread>

#include "midi/drivers/output_headers.h"

namespace kv::midi {

StreamDriver::~StreamDriver() { CloseAll(); }

void StreamDriver::CloseAll() {
  for (auto& input : inputs_.RemoveAll()) {
    input->Close();
    input->Input().Reset();
  }
  for (auto& output : outputs_.RemoveAll()) output->Close();
}

std::uint32_t StreamDriver::Relist(bool output) {
  const std::vector<ListedPort> ports = ListPorts(output);
  std::vector<PortNaming> naming;
  for (const ListedPort& port : ports) naming.push_back(port.naming);
  const std::vector<std::string> names = ListNames(naming);
  std::vector<Entry> entries;
  for (std::size_t i = 0; i < ports.size(); ++i) entries.push_back(Entry{ports[i].address, names[i]});

  std::lock_guard lock(listMutex_);
  lists_[output] = std::move(entries);
  listed_[output] = true;
  return static_cast<std::uint32_t>(lists_[output].size());
}

bool StreamDriver::Lookup(bool output, std::uint32_t device, Entry& entry) {
  bool listed = false;
  {
    std::lock_guard lock(listMutex_);
    listed = listed_[output];
  }
  if (!listed) Relist(output);
  std::lock_guard lock(listMutex_);
  if (device >= lists_[output].size()) return false;
  entry = lists_[output][device];
  return true;
}

MmResult StreamDriver::GetCaps(bool output, std::uint32_t device, MidiCaps* caps) {
  if (caps == nullptr) return kMmInvalidParam;
  Entry entry;
  if (!Lookup(output, device, entry)) {
    FillCaps(caps, {});
    return kMmBadDeviceId;
  }
  FillCaps(caps, entry.name);
  return kMmNoError;
}

std::uint32_t StreamDriver::OutGetNumDevs() { return Relist(true); }

MmResult StreamDriver::OutGetDevCaps(std::uint32_t device, MidiCaps* caps, std::uint32_t) {
  return GetCaps(true, device, caps);
}

MmResult StreamDriver::OutOpen(MidiHandle* handle, std::uint32_t device) {
  if (handle == nullptr) return kMmInvalidParam;
  *handle = 0;
  Entry entry;
  if (!Lookup(true, device, entry)) return kMmBadDeviceId;
  std::shared_ptr<OutputStream> stream;
  if (const MmResult opened = OpenOutput(entry.address, stream); opened != kMmNoError) return opened;
  *handle = outputs_.Add(std::move(stream));
  return kMmNoError;
}

MmResult StreamDriver::OutClose(MidiHandle handle) {
  auto stream = outputs_.Remove(handle);
  if (!stream) return kMmInvalidHandle;
  stream->Close();
  return kMmNoError;
}

MmResult StreamDriver::OutPrepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  if (!outputs_.Find(handle)) return kMmInvalidHandle;
  return PrepareOutputHeader(header, headerSize);
}

MmResult StreamDriver::OutLongMsg(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  auto stream = outputs_.Find(handle);
  if (!stream) return kMmInvalidHandle;
  if (const MmResult checked = BeginOutputMessage(header, headerSize); checked != kMmNoError) {
    return checked;
  }
  const MmResult sent = stream->Send(header->data, header->bufferLength);
  EndOutputMessage(header, sent == kMmNoError);
  return sent;
}

MmResult StreamDriver::OutUnprepareHeader(MidiHandle handle, MidiHeader* header,
                                          std::uint32_t headerSize) {
  if (!outputs_.Find(handle)) return kMmInvalidHandle;
  return UnprepareOutputHeader(header, headerSize);
}

std::uint32_t StreamDriver::InGetNumDevs() { return Relist(false); }

MmResult StreamDriver::InGetDevCaps(std::uint32_t device, MidiCaps* caps, std::uint32_t) {
  return GetCaps(false, device, caps);
}

MmResult StreamDriver::InOpen(MidiHandle* handle, std::uint32_t device, MidiInCallback callback,
                              std::uintptr_t instance, std::uint32_t flags) {
  if (handle == nullptr) return kMmInvalidParam;
  *handle = 0;
  if (flags != kCallbackFunction || callback == nullptr) return kMmInvalidParam;
  Entry entry;
  if (!Lookup(false, device, entry)) return kMmBadDeviceId;
  const MidiHandle reserved = inputs_.Reserve();
  std::shared_ptr<InputStream> stream;
  if (const MmResult opened = OpenInput(entry.address, reserved, callback, instance, stream);
      opened != kMmNoError) {
    return opened;
  }
  stream->Input().Notify(kMimOpen);
  inputs_.Put(reserved, std::move(stream));
  *handle = reserved;
  return kMmNoError;
}

MmResult StreamDriver::InReset(MidiHandle handle) {
  auto stream = inputs_.Find(handle);
  if (!stream) return kMmInvalidHandle;
  stream->Input().Reset();
  return kMmNoError;
}

MmResult StreamDriver::InPrepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  auto stream = inputs_.Find(handle);
  return stream ? stream->Input().Prepare(header, headerSize) : kMmInvalidHandle;
}

MmResult StreamDriver::InAddBuffer(MidiHandle handle, MidiHeader* header, std::uint32_t headerSize) {
  auto stream = inputs_.Find(handle);
  return stream ? stream->Input().Add(header, headerSize) : kMmInvalidHandle;
}

MmResult StreamDriver::InStart(MidiHandle handle) {
  auto stream = inputs_.Find(handle);
  if (!stream) return kMmInvalidHandle;
  stream->Input().Start();
  return kMmNoError;
}

MmResult StreamDriver::InStop(MidiHandle handle) {
  auto stream = inputs_.Find(handle);
  if (!stream) return kMmInvalidHandle;
  stream->Input().Stop();
  return kMmNoError;
}

MmResult StreamDriver::InUnprepareHeader(MidiHandle handle, MidiHeader* header,
                                         std::uint32_t headerSize) {
  auto stream = inputs_.Find(handle);
  return stream ? stream->Input().Unprepare(header, headerSize) : kMmInvalidHandle;
}

MmResult StreamDriver::InClose(MidiHandle handle) {
  auto stream = inputs_.Remove(handle);
  if (!stream) return kMmInvalidHandle;
  // The reader ends first; then any buffer still lent comes back, empty, so
  // that once this returns the driver holds no buffer and calls nothing.
  stream->Close();
  stream->Input().Reset();
  stream->Input().Notify(kMimClose);
  return kMmNoError;
}

void StreamDriver::Sleep(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace kv::midi
