// The receive queue with the driver's thread appending and the dispatcher's
// thread removing at full speed, as they do during an update. Run under
// ThreadSanitizer this also checks that the two never touch an entry unsafely.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "midi/drivers/recording_driver.h"
#include "midi/midi_in_port.h"
#include "tests/midi/sysex_bytes.h"

namespace kv::midi {
namespace {

TEST(InputQueueTest, AnAppenderAndARemoverAtFullSpeedLoseAndCorruptNothing) {
  constexpr std::uint32_t kMessages = 50000;
  RecordingDriver driver;
  CMidiInPort port(driver);
  ASSERT_EQ(port.Start(), 1);

  std::atomic<bool> appenderDone{false};
  std::atomic<std::uint32_t> handBackFailures{0};
  std::thread appender([&] {
    for (std::uint32_t i = 0; i < kMessages; ++i) {
      if (!driver.HandBack(test::TaggedSysEx(5, i, 6 + i % 97))) {
        ++handBackFailures;
      }
    }
    appenderDone = true;
  });

  std::uint32_t received = 0;
  std::uint32_t corrupt = 0;
  std::thread remover([&] {
    while (true) {
      const bool finished = appenderDone.load();  // read before the queue
      SysExView view = port.GetFirstMessage();
      if (!view) {
        if (finished) break;
        continue;
      }
      const auto expected = test::TaggedSysEx(5, received, 6 + received % 97);
      if (view.length != expected.size() || !std::equal(expected.begin(), expected.end(), view.data)) {
        ++corrupt;
      }
      port.RemoveFirstMessage();
      ++received;
    }
  });
  appender.join();
  remover.join();

  EXPECT_EQ(handBackFailures.load(), 0u);  // the buffer was re-armed every time
  EXPECT_EQ(received, kMessages);
  EXPECT_EQ(corrupt, 0u);
  EXPECT_FALSE(port.GetFirstMessage());
}

}  // namespace
}  // namespace kv::midi
