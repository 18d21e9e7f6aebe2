// Product names for device lists.
//
// The ports preselect a device by its exact product name, and copy n of the
// program looks for "Name (n)". So a device keeps its product's own name
// where it can: a suffix appears only where one product shows several ports
// (" (port 2)" from its second port on), and a name that is still taken by an
// earlier entry of the list is numbered like the copies are (" (2)", " (3)"),
// so the second of two identical pedals is the one copy 2 picks.
#pragma once

#include <string>
#include <vector>

#include "midi/drivers/midi_driver.h"

namespace kv::midi {

// A product name holds at most this many bytes before its terminator.
constexpr std::size_t kMaxProductNameLength = sizeof(MidiCaps::productName) - 1;

struct PortNaming {
  std::string productName;  // the card's or client's own name
  std::string product;      // what tells products apart (a card number, a client name)
};

// The names for `ports`, in the same order, each at most kMaxProductNameLength bytes.
std::vector<std::string> ListNames(const std::vector<PortNaming>& ports);

// `base` followed by `suffix`, with `base` shortened (never inside a UTF-8
// character) so that the whole fits kMaxProductNameLength bytes.
std::string FitName(const std::string& base, const std::string& suffix = {});

// Copies `name` into the record, terminated; an empty record when caps is null.
void FillCaps(MidiCaps* caps, const std::string& name);

}  // namespace kv::midi
