// Which MIDI ports kv-update uses: the ones the dialog would preselect for
// the first copy of the program, or the ones named on the command line.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "midi/midi_in_port.h"
#include "midi/midi_out_port.h"

namespace kv::cli {

struct PortLists {
  std::vector<std::string> in;
  std::vector<std::string> out;
};

// The device names in device order, as the dialog's lists show them.
PortLists ReadPortLists(midi::CMidiInPort& inPort, midi::CMidiOutPort& outPort);

// A --in/--out value: only digits is a device number (valid below the
// count), anything else the exact name of a device (the first one of that
// name). -1 when there is no such device.
int FindPort(const std::vector<std::string>& names, const std::string& value);

// The position to use: `value` when given, else the preselection of the
// dialog's first copy (-1 when nothing matches).
int ChoosePort(const std::vector<std::string>& names, const std::optional<std::string>& value);

// Both lists, numbered, the preselected entries marked.
void PrintPortLists(std::FILE* out, const PortLists& lists);

}  // namespace kv::cli
