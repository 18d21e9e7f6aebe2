// kv-bench: figures for a whole update, one per line as "name value unit".
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_options.h"
#include "bench/chunk_figures.h"
#include "bench/process_usage.h"
#include "bench/update_figures.h"

namespace {

constexpr int kExitCompleted = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

}  // namespace

int main(int argc, char** argv) {
  using namespace kv::bench;
  const std::vector<const char*> args(argv + 1, argv + argc);
  BenchOptions options;
  std::string error;
  if (!ParseBenchOptions(args, options, error)) {
    std::fprintf(stderr, "kv-bench: %s\nTry 'kv-bench --help'.\n", error.c_str());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(BenchHelpText(), stdout);
    return kExitCompleted;
  }

  // The update first, while nothing else has run: its wall and CPU time
  // cover the run alone.
  const UpdateFigures update = MeasureUpdate();
  const std::optional<double> allocations = AllocationsPerChunk(options.quick ? 100 : 1000);
  const double packCrcNs = PackCrcNsPerChunk(options.quick ? 2000 : 50000);

  std::printf("exchanges %u count\n", update.exchanges);
  std::printf("wall_ms %.1f ms\n", update.wallMs);
  std::printf("ms_per_exchange %.3f ms\n", update.exchanges > 0 ? update.planMs / update.exchanges : 0.0);
  std::printf("cpu_ms %.1f ms\n", update.cpuMs);
  std::printf("peak_rss_kb %lld kB\n", static_cast<long long>(PeakResidentKb()));
  if (allocations) {
    std::printf("allocations_per_chunk %g count\n", *allocations);
  } else {
    std::printf("allocations_per_chunk nan count\n");
  }
  std::printf("pack_crc_ns_per_chunk %.0f ns\n", packCrcNs);
  std::fflush(stdout);

  bool ok = true;
  for (int text : update.errors) {
    std::fprintf(stderr, "kv-bench: the update showed error text %d\n", text);
  }
  if (!update.completed) {
    std::fprintf(stderr, "kv-bench: the update did not complete\n");
    ok = false;
  }
  if (!update.verified) {
    std::fprintf(stderr, "kv-bench: %s\n", update.verifyLine.c_str());
    ok = false;
  }
  if (!allocations) {
    std::fprintf(stderr,
                 "kv-bench: no allocation count: a write-data message was not sent, "
                 "or allocations cannot be counted\n");
    ok = false;
  }
  return ok ? kExitCompleted : kExitFailed;
}
