#include <cstdint>
#include <mutex>

#include "engine/sysex.h"
#include "engine/update_engine.h"

namespace kv {

namespace {

// Acts on one received entry. Every byte read is checked against the entry's
// length first: a message too short for a byte that a test or an action
// needs is dropped without effect. The results of the answers are ignored:
// a lost answer shows up to the pedal as a reply that does not come.
void Dispatch(CUpdateEngine& engine, const std::uint8_t* m, std::uint32_t length) {
  if (length < 5 || m[0] != kSysExStart) {
    return;
  }
  ReplySignal& signal = engine.Signal();
  if (m[1] == kVendorId) {
    if (m[3] != ModelId.load()) {
      return;
    }
    switch (m[4]) {
      case 0x00:  // status
        if (length < 6) {
          return;
        }
        signal.status.store(m[5]);
        signal.Set();
        return;
      case 0x01:
      case 0x04:
      case 0x05:
        engine.SendStatus(0);
        return;
      case 0x02:
        signal.status.store(0);
        signal.Set();
        return;
      case 0x03:
        return;
      default:
        engine.SendStatus(1);
        return;
    }
  }
  if (m[1] == kUniversalNonRealTime) {
    if (m[3] != kGeneralInformation) {
      return;
    }
    switch (m[4]) {
      case kIdentityRequestSubId: {
        std::uint8_t reply[kHostIdentityReplyLength];
        StoreHostIdentityReply(reply);
        engine.SendSysEx(reply, sizeof reply);
        return;
      }
      case kIdentityReplySubId:
        if (length < 7) {
          return;
        }
        signal.status.store(0);
        signal.detectedModel.store(m[6]);
        signal.Set();
        return;
      default:
        engine.SendStatus(1);
        return;
    }
  }
}

}  // namespace

void CUpdateEngine::PollReplies() {
  // A tick that comes while a call still runs (an answer blocks until the
  // driver has sent it) leaves the queue to that call.
  std::unique_lock<std::mutex> lock(pollMutex_, std::try_to_lock);
  if (!lock.owns_lock()) {
    return;
  }
  // Until the queue is empty, so that what arrives meanwhile is handled by
  // this same call. The entry stays valid until it is removed.
  while (const midi::SysExView message = inPort_.GetFirstMessage()) {
    Dispatch(*this, message.data, message.length);
    inPort_.RemoveFirstMessage();
  }
}

}  // namespace kv
