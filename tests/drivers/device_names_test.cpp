// Device names as the lists show them: the product's own name where possible.
#include "midi/drivers/device_names.h"

#include <gtest/gtest.h>

namespace kv::midi {
namespace {

TEST(DeviceNamesTest, SuffixesOnlyWhereNeeded) {
  struct Case {
    const char* what;
    std::vector<PortNaming> ports;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"one port per product keeps the name",
       {{"TARVO KV Series", "hw:1"}, {"USB Audio Device", "hw:2"}},
       {"TARVO KV Series", "USB Audio Device"}},
      {"a product with several ports numbers them from the second",
       {{"Interface", "hw:0"}, {"Interface", "hw:0"}, {"Interface", "hw:0"}},
       {"Interface", "Interface (port 2)", "Interface (port 3)"}},
      {"two products of one name are numbered as copies are",
       {{"TARVO KV Series", "hw:1"}, {"TARVO KV Series", "hw:2"}, {"TARVO KV Series", "hw:3"}},
       {"TARVO KV Series", "TARVO KV Series (2)", "TARVO KV Series (3)"}},
      {"both at once",
       {{"Box", "a"}, {"Box", "a"}, {"Box", "b"}, {"Box", "b"}},
       {"Box", "Box (port 2)", "Box (2)", "Box (port 2) (2)"}},
  };
  for (const Case& c : cases) EXPECT_EQ(ListNames(c.ports), c.names) << c.what;
}

TEST(DeviceNamesTest, NamesFitTheRecordWithoutCuttingACharacter) {
  const std::string longName = "An Unusually Long Product Name For A Pedal";
  EXPECT_EQ(FitName(longName), longName.substr(0, 31));
  EXPECT_EQ(FitName(longName, " (2)"), longName.substr(0, 27) + " (2)");
  // 29 ASCII bytes, then a two-byte character that would end at byte 31 and
  // a three-byte one that would not fit.
  const std::string utf8 = std::string(29, 'a') + "\xC3\xA9" + "\xE3\x83\x9A";
  EXPECT_EQ(FitName(utf8), std::string(29, 'a') + "\xC3\xA9");
  EXPECT_EQ(FitName(utf8, " (2)"), std::string(27, 'a') + " (2)");

  const std::vector<std::string> listed = ListNames({{longName, "x"}, {longName, "y"}});
  EXPECT_EQ(listed[1], longName.substr(0, 27) + " (2)");

  MidiCaps caps;
  FillCaps(&caps, longName);
  EXPECT_EQ(std::string(caps.productName), longName.substr(0, 31));
}

}  // namespace
}  // namespace kv::midi
