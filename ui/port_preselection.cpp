#include "ui/port_preselection.h"

#include <cstdio>

#include "ui/message_texts.h"

namespace kv {

const char* const PreferredPortNames[3] = {
    // "USB audio device" in Japanese, as code page 932 bytes: the name the
    // platform gives a USB MIDI device on a Japanese system.
    "\x55\x53\x42\x20\x83\x49\x81\x5B\x83\x66\x83\x42\x83\x49\x20\x83\x66\x83\x6F\x83\x43\x83\x58",
    "USB Audio Device",
    "TARVO KV Series",
};

std::array<std::string, 3> PreferredNamesFor(int instanceNumber) {
  std::array<std::string, 3> names;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (instanceNumber == 1) {
      names[i] = PreferredPortNames[i];
      continue;
    }
    char text[96];
    std::snprintf(text, sizeof text, NumberedPortNameFormat, PreferredPortNames[i], instanceNumber);
    names[i] = text;
  }
  return names;
}

int PreselectPort(const std::vector<std::string>& entries, int instanceNumber) {
  const std::array<std::string, 3> names = PreferredNamesFor(instanceNumber);
  int selected = -1;
  for (std::size_t position = 0; position < entries.size(); ++position) {
    for (const std::string& name : names) {
      if (entries[position] == name) {  // same bytes, same length
        selected = static_cast<int>(position);
        break;
      }
    }
  }
  return selected;
}

}  // namespace kv
