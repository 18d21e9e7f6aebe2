#include "bench/bench_options.h"

#include <cstring>

namespace kv::bench {

bool ParseBenchOptions(std::span<const char* const> args, BenchOptions& options, std::string& error) {
  for (const char* arg : args) {
    if (std::strcmp(arg, "--quick") == 0) {
      options.quick = true;
    } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      options.help = true;
    } else {
      error = std::string("unknown option '") + arg + "'";
      return false;
    }
  }
  return true;
}

const char* BenchHelpText() {
  return "Usage: kv-bench [--quick]\n"
         "Runs one whole firmware update against the in-process simulated pedal, with\n"
         "the production waits and the 1 ms dispatcher timer, then measures the host's\n"
         "chunk path on its own. Prints one figure a line, as 'name value unit':\n"
         "  exchanges              host message -> pedal answer exchanges in the nine plan steps\n"
         "  wall_ms                wall time of the whole update run\n"
         "  ms_per_exchange        wall time of the nine plan steps / their exchanges\n"
         "  cpu_ms                 CPU time of the process during the update run\n"
         "  peak_rss_kb            the process's peak resident memory\n"
         "  allocations_per_chunk  heap allocations while the host composes and sends one\n"
         "                         write-data message (no pedal attached)\n"
         "  pack_crc_ns_per_chunk  7-bit packing plus CRC-32 of one 2048-byte chunk\n"
         "\n"
         "  --quick  fewer repetitions of the last two figures (the update still runs whole)\n"
         "  --help   this text\n"
         "\n"
         "Exit status: 0 when the update completed and the simulated pedal's flash\n"
         "matches the images, 1 otherwise, 2 for a usage error.\n";
}

}  // namespace kv::bench
