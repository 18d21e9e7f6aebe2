#include "ui/diagnostic_log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace kv {
namespace {

void SetZone(const char* zone) {
#ifdef _WIN32
  _putenv_s("TZ", zone);
  _tzset();
#else
  ::setenv("TZ", zone, 1);
  ::tzset();
#endif
}

std::string Compose(int number, std::int64_t utcSeconds) {
  char line[100];
  const int length = ComposeLogLine(line, number, utcSeconds);
  EXPECT_EQ(length, static_cast<int>(std::string(line).size()));
  return line;
}

struct LineCase {
  std::int64_t utcSeconds;
  int number;
  const char* line;
};

// The stamp is UTC+9 whatever the machine's zone, with the carry into the
// day, month and year; every entry text and the five blanks before it.
TEST(LogLine, StampsUtcPlusNineWithCarriesAndExactText) {
  const LineCase cases[] = {
      {1333224907, 0, "2012/04/01 05:15:07     Midi out error.\n"},                  // into the next month
      {1333205999, 1, "2012/03/31 23:59:59     Illegal device connected.\n"},        // last second of the day
      {1356966000, 2, "2013/01/01 00:00:00     Please use the firmware update mode.\n"},  // into the next year
      {1330441200, 3, "2012/02/29 00:00:00     (Erase)Time Out Error.\n"},           // leap day
      {1362063600, 4, "2013/03/01 00:00:00     (CRC)Transfer error occurred.\n"},    // no leap day
      {4107510000, 5, "2100/03/01 00:00:00     (Flash Write)Transfer error occurred.\n"},  // century, no leap day
      {951782399, 6, "2000/02/29 08:59:59     (Write)Time Out Error.\n"},           // 400-year leap day
      {-32400, 0, "1970/01/01 00:00:00     Midi out error.\n"},                   // before the epoch in UTC
  };
  // A zone far from UTC+9 must change nothing.
  SetZone("EST5EDT");
  for (const LineCase& c : cases) {
    EXPECT_EQ(Compose(c.number, c.utcSeconds), c.line) << c.utcSeconds;
  }
  SetZone("UTC0");
  // The longest entry gives the longest line: 62 characters with its newline.
  EXPECT_EQ(Compose(5, 0).size(), 62u);
}

TEST(LogLine, UnknownEntryComposesNothing) {
  for (int number : {-1, 7, 1000}) {
    EXPECT_EQ(Compose(number, 0), "") << number;
    EXPECT_STREQ(LogEntryText(number), "") << number;
  }
}

TEST(LogClockSeam, SystemClockReadsUtcSeconds) {
  const std::int64_t before = static_cast<std::int64_t>(std::time(nullptr));
  const std::int64_t now = SystemLogClock().UtcSeconds();
  const std::int64_t after = static_cast<std::int64_t>(std::time(nullptr));
  EXPECT_GE(now, before);
  EXPECT_LE(now, after);
}

}  // namespace
}  // namespace kv
