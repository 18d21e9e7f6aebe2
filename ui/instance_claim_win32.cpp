// Instance claims as named mutexes. Creating one and learning whether the
// name existed already is one atomic step of the kernel, and the kernel
// releases the name when the holder ends, however it ends. The names carry
// no namespace prefix, so the numbering covers the copies of one log-on.
#include "ui/instance_claim.h"

#include <windows.h>

namespace kv {

namespace {

class MutexClaim final : public InstanceClaim {
 public:
  explicit MutexClaim(HANDLE mutex) : mutex_(mutex) {}
  ~MutexClaim() override { CloseHandle(mutex_); }
  MutexClaim(const MutexClaim&) = delete;
  MutexClaim& operator=(const MutexClaim&) = delete;

 private:
  HANDLE mutex_;
};

}  // namespace

std::unique_ptr<InstanceClaim> ClaimInstanceName(const std::string& name) {
  // Owned by the creating thread; it only holds the name, nobody waits on it.
  HANDLE mutex = CreateMutexA(nullptr, TRUE, name.c_str());
  if (mutex == nullptr) {
    return nullptr;  // cannot be created: counts as taken
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return nullptr;
  }
  return std::make_unique<MutexClaim>(mutex);
}

}  // namespace kv
