// One whole update against the in-process simulated pedal, with the
// production waits and the 1 ms dispatcher timer, timed from the outside
// (wall and CPU) and from the inside (the observer's view of the plan).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv::bench {

struct UpdateFigures {
  bool completed = false;  // the status field ended on "Version update completed."
  bool verified = false;   // the pedal's flash holds the four images
  std::string verifyLine;  // the simulator's verification line, or why there is none
  std::vector<int> errors; // error boxes shown, by text number

  // Host message -> pedal answer exchanges of the nine plan steps, counted
  // by the pedal: every erase request and write-data message it received.
  std::uint32_t exchanges = 0;
  double wallMs = 0;  // from the timer's start to the worker's end
  double cpuMs = 0;   // the process's CPU time over the same stretch
  // From the first plan step's start (just before its erase request) to the
  // last acknowledgement the worker took.
  double planMs = 0;
};

UpdateFigures MeasureUpdate();

}  // namespace kv::bench
