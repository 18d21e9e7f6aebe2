// kv-update: one firmware update from the command line.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/exit_codes.h"
#include "cli/termination_watch.h"
#include "cli/update_run.h"
#include "sim/midi_backend.h"

int main(int argc, char** argv) {
  using namespace kv;
  // Before any thread exists, so that every thread inherits it.
  cli::BeginTerminationWatch();

  const std::vector<const char*> args(argv + 1, argv + argc);
  cli::CliOptions options;
  std::string error;
  if (!cli::ParseCommandLine(args, options, error)) {
    std::fprintf(stderr, "kv-update: %s\nTry 'kv-update --help'.\n", error.c_str());
    return cli::kExitUsage;
  }
  if (options.help) {
    std::fputs(cli::HelpText().c_str(), stdout);
    return cli::kExitCompleted;
  }
  if (options.version) {
    std::printf("kv-update %s\n", KV_VERSION);
    return cli::kExitCompleted;
  }

  sim::MidiBackend backend;
  if (options.simulate) {
    backend = sim::SimulatedBackend(options.scenario, error);
    if (!backend.driver) {
      std::fprintf(stderr, "kv-update: %s\n", error.c_str());
      return cli::kExitUsage;
    }
  } else {
    backend = sim::SelectMidiBackend();
    if (!backend.driver) {
      std::fprintf(stderr, "kv-update: no MIDI service is available\n");
      return cli::kExitPortProblem;
    }
  }
  if (options.list) {
    return cli::ListPorts(*backend.driver, stdout);
  }
  return cli::RunUpdate(options, *backend.driver, backend.pedal.get(), stdout, stderr);
}
