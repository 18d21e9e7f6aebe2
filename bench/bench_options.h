// kv-bench's command line.
#pragma once

#include <span>
#include <string>

namespace kv::bench {

struct BenchOptions {
  bool quick = false;  // fewer repetitions of the chunk figures; the update still runs whole
  bool help = false;
};

// False, with `error` set, for anything it does not know.
bool ParseBenchOptions(std::span<const char* const> args, BenchOptions& options, std::string& error);

const char* BenchHelpText();

}  // namespace kv::bench
