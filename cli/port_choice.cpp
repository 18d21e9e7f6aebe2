#include "cli/port_choice.h"

#include <cstdint>

#include "ui/port_preselection.h"

namespace kv::cli {

namespace {

constexpr int kFirstInstance = 1;
constexpr std::size_t kNameBufferSize = 260;

template <class Port>
std::vector<std::string> ReadNames(Port& port) {
  std::vector<std::string> names;
  // The count is asked again before each device, as the dialog does.
  for (std::uint32_t i = 0; i < port.GetDeviceCount(); ++i) {
    char buffer[kNameBufferSize] = {};
    port.GetDeviceName(i, buffer);
    names.emplace_back(buffer);
  }
  return names;
}

void PrintList(std::FILE* out, const char* title, const std::vector<std::string>& names) {
  std::fprintf(out, "%s\n", title);
  if (names.empty()) {
    std::fprintf(out, "  (none)\n");
  }
  const int preselected = PreselectPort(names, kFirstInstance);
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::fprintf(out, "  %zu  %s%s\n", i, names[i].c_str(),
                 static_cast<int>(i) == preselected ? "  (preselected)" : "");
  }
}

}  // namespace

PortLists ReadPortLists(midi::CMidiInPort& inPort, midi::CMidiOutPort& outPort) {
  return {ReadNames(inPort), ReadNames(outPort)};
}

int FindPort(const std::vector<std::string>& names, const std::string& value) {
  const bool number = !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
  if (number) {
    std::size_t index = 0;
    for (char digit : value) {
      index = index * 10 + static_cast<std::size_t>(digit - '0');
      if (index >= names.size()) {
        return -1;
      }
    }
    return static_cast<int>(index);
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == value) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int ChoosePort(const std::vector<std::string>& names, const std::optional<std::string>& value) {
  return value ? FindPort(names, *value) : PreselectPort(names, kFirstInstance);
}

void PrintPortLists(std::FILE* out, const PortLists& lists) {
  PrintList(out, "MIDI IN", lists.in);
  PrintList(out, "MIDI OUT", lists.out);
}

}  // namespace kv::cli
