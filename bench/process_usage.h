// The process's own accounting: CPU time of all its threads and its peak
// resident memory.
#pragma once

#include <cstdint>

namespace kv::bench {

// CPU time used by the whole process so far, in milliseconds.
double ProcessCpuMs();

// The largest resident set the process has had, in kilobytes.
std::int64_t PeakResidentKb();

}  // namespace kv::bench
