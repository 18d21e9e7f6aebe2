#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "midi/drivers/recording_driver.h"
#include "midi/midi_in_port.h"
#include "midi/midi_out_port.h"

namespace kv::midi {
namespace {

using Op = RecordingDriver::Op;

// Both ports name their devices the same way; each case runs on both sides.
TEST(DeviceNameTest, NamesArriveWholeWithinTheBoundAndEmptyWhenUndescribable) {
  const std::string name31(31, 'N');
  const std::string name32(32, 'X');  // a driver that filled the record with no terminator
  struct Case {
    const char* name;
    std::uint32_t index;
    bool capsFail;
    std::string expected;
  };
  const Case cases[] = {
      {"ordinary name", 0, false, "TARVO KV Series 1"},
      {"31 characters arrive whole", 1, false, name31},
      {"unterminated record is not read past", 2, false, name32},
      {"device vanished since it was counted", 3, false, ""},
      {"capability query fails", 0, true, ""},
  };
  const std::vector<std::string> names = {"TARVO KV Series 1", name31, name32};
  for (const Case& c : cases) {
    for (const bool output : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (output ? " (out)" : " (in)"));
      RecordingDriver driver(names, names);
      if (c.capsFail) {
        driver.Fail(output ? Op::OutGetDevCaps : Op::InGetDevCaps, kMmNoDriver);
      }
      char buffer[260];
      std::memset(buffer, '#', sizeof buffer);
      if (output) {
        CMidiOutPort port(driver);
        EXPECT_EQ(port.GetDeviceCount(), 3u);
        port.GetDeviceName(c.index, buffer);
      } else {
        CMidiInPort port(driver);
        EXPECT_EQ(port.GetDeviceCount(), 3u);
        port.GetDeviceName(c.index, buffer);
      }
      EXPECT_EQ(std::string(buffer), c.expected);
      // Nothing written past the terminator: the bound holds.
      for (std::size_t i = c.expected.size() + 1; i < sizeof buffer; ++i) {
        ASSERT_EQ(buffer[i], '#') << "byte " << i;
      }
      // The ports never touched a device for it.
      EXPECT_EQ(driver.Count(output ? Op::OutOpen : Op::InOpen), 0);
    }
  }
}

}  // namespace
}  // namespace kv::midi
