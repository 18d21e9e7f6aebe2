#include "engine/update_engine.h"

#include <chrono>
#include <thread>

namespace kv {

static_assert(WriteDataMessageLength(kMaxChunkLength) <= kCompositionBufferSize);

CUpdateEngine::CUpdateEngine(midi::CMidiOutPort& outPort, midi::CMidiInPort& inPort, UpdateObserver& observer,
                             const ProtocolTimes& times, const ImageSource& images)
    : outPort_(outPort), inPort_(inPort), observer_(observer), times_(times), images_(images) {}

int CUpdateEngine::SendSysEx(const std::uint8_t* data, std::size_t length) {
  if (data == nullptr || length == 0) {
    return -1;
  }
  // The port keeps two senders' messages apart and returns once the driver
  // is done with these bytes.
  return outPort_.SendLong(data, length) == 1 ? 0 : -1;
}

// Each composer holds the composition buffer from its first byte until its
// SendSysEx has returned, so the dispatcher's answer can never overwrite a
// message the worker is still sending (and the other way round).

int CUpdateEngine::SendWriteChunk(const std::uint8_t* data, std::int32_t address, std::size_t length) {
  std::lock_guard<std::mutex> lock(compositionMutex_);
  const std::size_t n = ComposeWriteData(compositionBuffer_, ModelId.load(), data, address, length);
  return n == 0 ? -1 : SendSysEx(compositionBuffer_, n);
}

int CUpdateEngine::SendEraseRequest(std::int32_t address, std::int32_t size) {
  std::lock_guard<std::mutex> lock(compositionMutex_);
  const std::size_t n = ComposeEraseRequest(compositionBuffer_, ModelId.load(), address, size);
  return n == 0 ? -1 : SendSysEx(compositionBuffer_, n);
}

int CUpdateEngine::SendStatus(std::uint8_t code) {
  std::lock_guard<std::mutex> lock(compositionMutex_);
  const std::size_t n = ComposeStatus(compositionBuffer_, ModelId.load(), code);
  return SendSysEx(compositionBuffer_, n);
}

int CUpdateEngine::SendModeRequest(std::uint8_t command) {
  std::lock_guard<std::mutex> lock(compositionMutex_);
  const std::size_t n = ComposeModeRequest(compositionBuffer_, ModelId.load(), command);
  return n == 0 ? -1 : SendSysEx(compositionBuffer_, n);
}

void CUpdateEngine::Pause(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace kv
