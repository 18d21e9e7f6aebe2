#include "midi/drivers/device_names.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

namespace kv::midi {

std::string FitName(const std::string& base, const std::string& suffix) {
  const std::size_t room =
      suffix.size() >= kMaxProductNameLength ? 0 : kMaxProductNameLength - suffix.size();
  std::size_t keep = std::min(base.size(), room);
  // Step back over continuation bytes so no character is cut in half.
  if (keep < base.size()) {
    while (keep > 0 && (static_cast<unsigned char>(base[keep]) & 0xC0) == 0x80) --keep;
  }
  std::string name = base.substr(0, keep) + suffix;
  return name.substr(0, kMaxProductNameLength);
}

std::vector<std::string> ListNames(const std::vector<PortNaming>& ports) {
  std::map<std::string, int> portsPerProduct;
  for (const PortNaming& port : ports) ++portsPerProduct[port.product];

  std::vector<std::string> names;
  std::map<std::string, int> seenPerProduct;
  std::set<std::string> taken;
  for (const PortNaming& port : ports) {
    const int portNumber = ++seenPerProduct[port.product];
    const std::string portSuffix = portsPerProduct[port.product] > 1 && portNumber > 1
                                       ? " (port " + std::to_string(portNumber) + ")"
                                       : std::string();
    std::string name = FitName(port.productName, portSuffix);
    for (int copy = 2; taken.count(name) != 0; ++copy) {
      name = FitName(port.productName, portSuffix + " (" + std::to_string(copy) + ")");
    }
    taken.insert(name);
    names.push_back(std::move(name));
  }
  return names;
}

void FillCaps(MidiCaps* caps, const std::string& name) {
  if (caps == nullptr) return;
  std::memset(caps->productName, 0, sizeof caps->productName);
  const std::string fitted = FitName(name);
  std::memcpy(caps->productName, fitted.data(), fitted.size());
}

}  // namespace kv::midi
