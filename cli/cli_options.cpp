#include "cli/cli_options.h"

#include <string_view>

namespace kv::cli {

namespace {

// "--name VALUE" or "--name=VALUE" for a value option; false if args[i] is
// not `name`. Advances i past what it took.
bool TakeValue(std::span<const char* const> args, std::size_t& i, std::string_view name,
               std::optional<std::string>& value, std::string& error) {
  const std::string_view arg = args[i];
  if (arg == name) {
    if (i + 1 >= args.size()) {
      error = std::string(name) + " needs a value";
      value.reset();
      return true;
    }
    value = args[i + 1];
    i += 2;
  } else if (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=') {
    value = std::string(arg.substr(name.size() + 1));
    i += 1;
  } else {
    return false;
  }
  if (value->empty()) {
    error = std::string(name) + " needs a port number or name";
  }
  return true;
}

}  // namespace

bool ParseCommandLine(std::span<const char* const> args, CliOptions& options, std::string& error) {
  error.clear();
  std::size_t i = 0;
  while (i < args.size()) {
    const std::string_view arg = args[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      ++i;
    } else if (arg == "--version") {
      options.version = true;
      ++i;
    } else if (arg == "--list") {
      options.list = true;
      ++i;
    } else if (arg == "--simulate") {
      options.simulate = true;
      ++i;
    } else if (TakeValue(args, i, "--in", options.inPort, error) ||
               TakeValue(args, i, "--out", options.outPort, error)) {
      if (!error.empty()) {
        return false;
      }
    } else {
      switch (sim::ParseScenarioOption(args, i, options.scenario, error)) {
        case sim::OptionResult::kConsumed:
          options.scenarioGiven = true;
          break;
        case sim::OptionResult::kError:
          return false;
        case sim::OptionResult::kNotScenarioOption:
          error = "unknown option '" + std::string(arg) + "'";
          return false;
      }
    }
  }
  if (options.scenarioGiven && !options.simulate) {
    error = "the --sim-* options and --transcript need --simulate";
    return false;
  }
  return true;
}

std::string HelpText() {
  return std::string(
             "Usage: kv-update [OPTION]...\n"
             "Updates the firmware of a KV Series pedal connected as a MIDI IN and a MIDI\n"
             "OUT port: identifies it, erases its flash regions and writes the four\n"
             "firmware images built into this program, showing the step, the status and a\n"
             "progress bar. Error messages go to standard error. \"TEST_LOG.txt\" in the\n"
             "current directory, when it exists, gets one line per reported failure.\n"
             "\n"
             "Ports are preselected by name as the updater's dialog does (\"USB Audio\n"
             "Device\", \"TARVO KV Series\", ...; the last match in the list wins).\n"
             "  --in PORT            MIDI IN port: its number from --list, or its exact name\n"
             "  --out PORT           MIDI OUT port: likewise\n"
             "  --list               list the MIDI IN and OUT ports, numbered, and exit\n"
             "  --simulate           update a simulated pedal in this process instead of a\n"
             "                       real one, then check the simulated flash against the\n"
             "                       images and print the result\n"
             "  --help               show this text and exit\n"
             "  --version            show the version and exit\n"
             "A pedal that never answers the update-mode request is waited for until the\n"
             "run is interrupted (Ctrl+C).\n"
             "\n") +
         sim::ScenarioOptionsHelp() +
         "  These options need --simulate.\n"
         "\n"
         "Environment: KV_MIDI=sim puts the simulated pedal's ports in place of the\n"
         "system's MIDI ports.\n"
         "\n"
         "Exit status:\n"
         "  0    the update completed (\"Version update completed.\"), and with --simulate\n"
         "       the simulated flash holds the images\n"
         "  1    the update failed; the error was printed\n"
         "  2    unknown option or malformed value; nothing was sent\n"
         "  3    no such port, or a port could not be opened\n"
         "  4    the update completed but the simulated flash does not hold the images\n"
         "  130  interrupted by SIGINT (Ctrl+C); 143 by SIGTERM: the update was abandoned\n"
         "       where it stood\n";
}

}  // namespace kv::cli
