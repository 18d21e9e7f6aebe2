// The rule that picks the MIDI ports a copy of the program preselects, shared
// by the dialog and the command line.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace kv {

// The preferred names as 8-bit strings (entry 0 in code page 932).
extern const char* const PreferredPortNames[3];

// The three names instance `instanceNumber` looks for.
std::array<std::string, 3> PreferredNamesFor(int instanceNumber);

// Compares each entry in list order with the preferred names (same bytes,
// same length); every match is selected in turn, so the last one wins.
// Returns the selected position, or -1 when nothing matches.
int PreselectPort(const std::vector<std::string>& entries, int instanceNumber);

}  // namespace kv
