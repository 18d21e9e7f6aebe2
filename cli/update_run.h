// One update run from the command line, set up as the dialog's Execute sets
// it up: the reply dispatcher on a 1 ms timer from the start, the output port
// closed and opened, the input port closed, pointed at its device and
// started, the reply signal reset, then the update worker on a thread of its
// own. The main thread waits for the worker and for termination signals.
#pragma once

#include <cstdio>

#include "cli/cli_options.h"
#include "midi/drivers/midi_driver.h"
#include "sim/simulated_pedal.h"

namespace kv::cli {

// Returns the exit status (cli/exit_codes.h). `pedal` is the simulated pedal
// behind `driver`, or null for real ports.
int RunUpdate(const CliOptions& options, midi::MidiDriver& driver, const sim::SimulatedPedal* pedal, std::FILE* out,
              std::FILE* err);

// --list: the ports, numbered. Returns the exit status.
int ListPorts(midi::MidiDriver& driver, std::FILE* out);

}  // namespace kv::cli
