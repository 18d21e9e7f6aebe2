#include "sim/scenario.h"

#include <cstring>
#include <string_view>

namespace kv::sim {

namespace {

constexpr std::uint64_t kMaxDataByte = 0x7F;  // a SysEx data byte
constexpr std::uint64_t kMaxCount = 0x7FFFFFFF;

// Splits "a:b:c" into exactly `parts` fields.
bool SplitFields(const std::string& text, std::size_t parts, std::vector<std::string>& fields) {
  fields.clear();
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = text.find(':', start);
    fields.push_back(text.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
    if (colon == std::string::npos) {
      break;
    }
    start = colon + 1;
  }
  return fields.size() == parts;
}

std::string Quoted(const std::string& text) {
  std::string quoted(1, '\'');
  quoted.append(text).push_back('\'');
  return quoted;
}

struct FieldRule {
  const char* name;
  std::uint64_t min;
  std::uint64_t max;
};

// Parses the colon-separated fields of `value` by `rules`; on failure
// composes a message naming the option and the offending field.
bool ParseFields(const char* option, const std::string& value, std::span<const FieldRule> rules,
                 std::vector<std::uint64_t>& out, std::string& error) {
  std::string shape;
  for (const FieldRule& rule : rules) {
    if (!shape.empty()) {
      shape.push_back(':');
    }
    shape.append(rule.name);
  }
  std::vector<std::string> fields;
  if (!SplitFields(value, rules.size(), fields)) {
    error = std::string(option) + " needs " + shape + ", got " + Quoted(value);
    return false;
  }
  out.clear();
  for (std::size_t k = 0; k < rules.size(); ++k) {
    std::uint64_t number = 0;
    if (!ParseNumber(fields[k], rules[k].max, number) || number < rules[k].min) {
      error = std::string(option) + ": " + rules[k].name + " must be a number from " + std::to_string(rules[k].min) +
              " to " + std::to_string(rules[k].max) + ", got " + Quoted(fields[k]);
      return false;
    }
    out.push_back(number);
  }
  return true;
}

enum class Kind { kFlag, kValue };

struct OptionEntry {
  const char* name;
  Kind kind;
};

constexpr OptionEntry kOptions[] = {
    {"--sim-model", Kind::kValue},        {"--sim-update-mode-status", Kind::kValue},
    {"--sim-silent", Kind::kFlag},        {"--sim-chunk-status", Kind::kValue},
    {"--sim-drop-chunk", Kind::kValue},   {"--sim-erase-status", Kind::kValue},
    {"--sim-drop-erase", Kind::kValue},   {"--sim-no-finish-reply", Kind::kFlag},
    {"--sim-reply-delay-ms", Kind::kValue}, {"--transcript", Kind::kValue},
};

bool Apply(std::string_view name, const std::string& value, Scenario& scenario, std::string& error) {
  const char* option = name.data();
  std::vector<std::uint64_t> v;
  if (name == "--sim-silent") {
    scenario.silent = true;
  } else if (name == "--sim-no-finish-reply") {
    scenario.noFinishReply = true;
  } else if (name == "--sim-model") {
    const FieldRule rule[] = {{"BYTE", 0, kMaxDataByte}};
    if (!ParseFields(option, value, rule, v, error)) return false;
    scenario.model = static_cast<std::uint8_t>(v[0]);
  } else if (name == "--sim-update-mode-status") {
    const FieldRule rule[] = {{"N", 0, kMaxDataByte}};
    if (!ParseFields(option, value, rule, v, error)) return false;
    scenario.updateModeStatus = static_cast<std::uint8_t>(v[0]);
  } else if (name == "--sim-chunk-status") {
    const FieldRule rule[] = {{"INDEX", 0, kPlanChunkCount - 1}, {"STATUS", 0, kMaxDataByte}, {"COUNT", 1, kMaxCount}};
    if (!ParseFields(option, value, rule, v, error)) return false;
    scenario.chunkFaults.push_back(
        {static_cast<std::uint32_t>(v[0]), false, static_cast<std::uint8_t>(v[1]), static_cast<std::uint32_t>(v[2])});
  } else if (name == "--sim-drop-chunk") {
    const FieldRule rule[] = {{"INDEX", 0, kPlanChunkCount - 1}, {"COUNT", 1, kMaxCount}};
    if (!ParseFields(option, value, rule, v, error)) return false;
    scenario.chunkFaults.push_back({static_cast<std::uint32_t>(v[0]), true, 0, static_cast<std::uint32_t>(v[1])});
  } else if (name == "--sim-erase-status") {
    const FieldRule rule[] = {{"INDEX", 0, kPlanEraseCount - 1}, {"STATUS", 0, kMaxDataByte}, {"COUNT", 1, kMaxCount}};
    if (!ParseFields(option, value, rule, v, error)) return false;
    scenario.eraseFaults.push_back(
        {static_cast<std::uint32_t>(v[0]), false, static_cast<std::uint8_t>(v[1]), static_cast<std::uint32_t>(v[2])});
  } else if (name == "--sim-drop-erase") {
    const FieldRule rule[] = {{"INDEX", 0, kPlanEraseCount - 1}};
    if (!ParseFields(option, value, rule, v, error)) return false;
    scenario.eraseFaults.push_back({static_cast<std::uint32_t>(v[0]), true, 0, kForever});
  } else if (name == "--sim-reply-delay-ms") {
    const FieldRule rule[] = {{"N", 0, kMaxReplyDelayMs}};
    if (!ParseFields(option, value, rule, v, error)) return false;
    scenario.replyDelayMs = static_cast<std::uint32_t>(v[0]);
  } else if (name == "--transcript") {
    if (value.empty()) {
      error = "--transcript needs a file name";
      return false;
    }
    scenario.transcriptPath = value;
  }
  return true;
}

}  // namespace

bool ParseNumber(const std::string& text, std::uint64_t max, std::uint64_t& value) {
  std::string_view digits = text;
  unsigned base = 10;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.remove_prefix(2);
  }
  if (digits.empty()) {
    return false;
  }
  std::uint64_t result = 0;
  for (char c : digits) {
    unsigned digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return false;
    }
    result = result * base + digit;
    if (result > max) {
      return false;
    }
  }
  value = result;
  return true;
}

OptionResult ParseScenarioOption(std::span<const char* const> args, std::size_t& i, Scenario& scenario,
                                 std::string& error) {
  if (i >= args.size() || args[i] == nullptr) {
    return OptionResult::kNotScenarioOption;
  }
  const std::string_view arg = args[i];
  for (const OptionEntry& rule : kOptions) {
    const std::string_view name = rule.name;
    const bool exact = arg == name;
    const bool withEquals = arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=';
    if (!exact && !withEquals) {
      continue;
    }
    std::string value;
    std::size_t next = i + 1;
    if (rule.kind == Kind::kFlag) {
      if (withEquals) {
        error = std::string(name) + " takes no value";
        return OptionResult::kError;
      }
    } else if (withEquals) {
      value = std::string(arg.substr(name.size() + 1));
    } else if (next < args.size() && args[next] != nullptr) {
      value = args[next];
      ++next;
    } else {
      error = std::string(name) + " needs a value";
      return OptionResult::kError;
    }
    if (!Apply(name, value, scenario, error)) {
      return OptionResult::kError;
    }
    i = next;
    return OptionResult::kConsumed;
  }
  return OptionResult::kNotScenarioOption;
}

const char* ScenarioOptionsHelp() {
  return "Simulated pedal (numbers are decimal or 0x-prefixed hexadecimal):\n"
         "  --sim-model BYTE              model byte the pedal reports (default 0x5F)\n"
         "  --sim-update-mode-status N    answer to the update-mode request (default 0;\n"
         "                                11 = not in firmware update mode)\n"
         "  --sim-silent                  the pedal answers nothing at all\n"
         "  --sim-chunk-status INDEX:STATUS:COUNT\n"
         "                                write chunk INDEX (0 to 1907, counted over the\n"
         "                                whole plan) is answered COUNT times with STATUS,\n"
         "                                without being written, before it is carried out\n"
         "  --sim-drop-chunk INDEX:COUNT  write chunk INDEX goes unanswered COUNT times\n"
         "  --sim-erase-status INDEX:STATUS:COUNT\n"
         "                                erase request INDEX (0 to 4) is answered COUNT\n"
         "                                times with STATUS before it is carried out\n"
         "  --sim-drop-erase INDEX        erase request INDEX is never answered\n"
         "  --sim-no-finish-reply         the finish request goes unanswered\n"
         "  --sim-reply-delay-ms N        every answer of the pedal arrives N ms late\n"
         "                                (0 to 60000)\n"
         "  --transcript FILE             write every SysEx message, both directions, one\n"
         "                                per line: 'host' or 'pedal', then hex bytes\n"
         "  Options naming an INDEX may repeat; faults for one index apply in the order\n"
         "  given. A resent chunk or erase request keeps its index; counting starts\n"
         "  afresh with each update-mode request.\n";
}

}  // namespace kv::sim
