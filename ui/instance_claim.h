// A named claim that numbers the running copies of the program: visible to
// every copy the same user runs, taken atomically (of two copies that try one
// name at the same moment exactly one gets it), and released by the system
// itself when the holder ends, however it ends.
#pragma once

#include <memory>
#include <string>

namespace kv {

// Holds a claimed name until it is destroyed or the process ends.
class InstanceClaim {
 public:
  virtual ~InstanceClaim() = default;
};

// Claims `name` for this process. Null when another copy holds it or when the
// claim cannot be made at all; the caller treats both as "taken".
std::unique_ptr<InstanceClaim> ClaimInstanceName(const std::string& name);

}  // namespace kv
