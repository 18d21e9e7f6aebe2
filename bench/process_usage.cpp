#include "bench/process_usage.h"

#include <sys/resource.h>
#include <time.h>

namespace kv::bench {

double ProcessCpuMs() {
  timespec now{};
  if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now) != 0) {
    return 0.0;
  }
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

std::int64_t PeakResidentKb() {
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) != 0) {
    return 0;
  }
  return static_cast<std::int64_t>(usage.ru_maxrss);  // kilobytes on Linux
}

}  // namespace kv::bench
