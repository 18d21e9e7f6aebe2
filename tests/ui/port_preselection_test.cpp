#include "ui/port_preselection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kv {
namespace {

const std::string kJapanese =
    "\x55\x53\x42\x20\x83\x49\x81\x5B\x83\x66\x83\x42\x83\x49\x20\x83\x66\x83\x6F\x83\x43\x83\x58";

TEST(PortPreselection, PreferredNamesPerInstance) {
  ASSERT_EQ(kJapanese.size(), 23u);
  EXPECT_EQ(PreferredNamesFor(1), (std::array<std::string, 3>{kJapanese, "USB Audio Device", "TARVO KV Series"}));
  EXPECT_EQ(PreferredNamesFor(2),
            (std::array<std::string, 3>{kJapanese + " (2)", "USB Audio Device (2)", "TARVO KV Series (2)"}));
  EXPECT_EQ(PreferredNamesFor(20)[2], "TARVO KV Series (20)");
}

struct Case {
  const char* what;
  std::vector<std::string> entries;
  int instance;
  int expected;
};

TEST(PortPreselection, SelectsTheLastExactMatch) {
  const Case cases[] = {
      {"no entries", {}, 1, -1},
      {"series name at 2", {"Midi Through", "Other", "TARVO KV Series", "Synth"}, 1, 2},
      {"two equal names: the later", {"USB Audio Device", "x", "USB Audio Device"}, 1, 2},
      {"any preferred name, last in list order wins", {"TARVO KV Series", kJapanese, "y"}, 1, 1},
      {"Japanese name as its bytes", {"a", kJapanese}, 1, 1},
      {"case differs", {"usb audio device", "TARVO KV SERIES"}, 1, -1},
      {"prefix or extension", {"USB Audio", "USB Audio Device 2", "USB Audio Device "}, 1, -1},
      {"instance 2 wants its number", {"USB Audio Device", "USB Audio Device (2)", "TARVO KV Series"}, 2, 1},
      {"instance 3 skips instance 2", {"TARVO KV Series (3)", "TARVO KV Series (2)"}, 3, 0},
      {"embedded terminator is not equal", {std::string("TARVO KV Series\0x", 17)}, 1, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PreselectPort(c.entries, c.instance), c.expected) << c.what;
  }
}

}  // namespace
}  // namespace kv
