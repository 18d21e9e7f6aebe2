// kv-update's command line.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "sim/scenario.h"

namespace kv::cli {

struct CliOptions {
  bool help = false;
  bool version = false;
  bool list = false;
  bool simulate = false;
  bool scenarioGiven = false;          // some --sim-* or --transcript option was given
  std::optional<std::string> inPort;   // --in: device number or exact name
  std::optional<std::string> outPort;  // --out
  sim::Scenario scenario;
};

// False with `error` set for an unknown option, a missing or malformed
// value, or simulator options without --simulate.
bool ParseCommandLine(std::span<const char* const> args, CliOptions& options, std::string& error);

// The --help text.
std::string HelpText();

}  // namespace kv::cli
