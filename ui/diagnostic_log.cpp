#include "ui/diagnostic_log.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kv {

namespace {

constexpr const char* kLogFileName = "TEST_LOG.txt";
constexpr std::size_t kLineBufferSize = 100;
constexpr std::int64_t kStampOffsetSeconds = 9 * 3600;
constexpr std::int64_t kSecondsPerDay = 86400;

constexpr const char* kLogEntries[] = {
    "Midi out error.",
    "Illegal device connected.",
    "Please use the firmware update mode.",
    "(Erase)Time Out Error.",
    "(CRC)Transfer error occurred.",
    "(Flash Write)Transfer error occurred.",
    "(Write)Time Out Error.",
};
constexpr int kEntryCount = static_cast<int>(sizeof kLogEntries / sizeof kLogEntries[0]);

struct CivilTime {
  std::int64_t year;
  int month, day, hour, minute, second;
};

// Days since 1970-01-01 to a proleptic Gregorian date, by era arithmetic
// (400-year cycles starting on 1 March), independent of any time zone.
CivilTime CivilFromSeconds(std::int64_t seconds) {
  std::int64_t days = seconds / kSecondsPerDay;
  std::int64_t rest = seconds % kSecondsPerDay;
  if (rest < 0) {
    rest += kSecondsPerDay;
    --days;
  }
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t dayOfEra = z - era * 146097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;  // 0 = March
  CivilTime t{};
  t.day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  t.month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  t.year = yearOfEra + era * 400 + (t.month <= 2 ? 1 : 0);
  t.hour = static_cast<int>(rest / 3600);
  t.minute = static_cast<int>(rest / 60 % 60);
  t.second = static_cast<int>(rest % 60);
  return t;
}

class SystemClock final : public LogClock {
 public:
  std::int64_t UtcSeconds() const override {
    // The system clock counts Unix time: UTC seconds since 1970.
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  }
};

// Appends `length` bytes to the log file if it already exists. Opening
// without "create" makes the existence test and the open one step, so a file
// deleted in between is not created again. Only a regular file is written:
// a folder, a pipe or a device of that name drops the line, and a pipe
// without a reader cannot block the caller.
void AppendToExistingLog(const char* line, std::size_t length) {
#ifdef _WIN32
  const int fd = _open(kLogFileName, _O_WRONLY | _O_APPEND | _O_TEXT);
  if (fd < 0) {
    return;
  }
  struct _stat64 info {};
  if (_fstat64(fd, &info) == 0 && (info.st_mode & _S_IFMT) == _S_IFREG) {
    (void)_write(fd, line, static_cast<unsigned>(length));
  }
  _close(fd);
#else
  const int fd = ::open(kLogFileName, O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return;
  }
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    (void)!::write(fd, line, length);  // a failed or short write is not examined
  }
  ::close(fd);
#endif
}

}  // namespace

const LogClock& SystemLogClock() {
  static const SystemClock clock;
  return clock;
}

const char* LogEntryText(int number) {
  if (number < 0 || number >= kEntryCount) {
    return "";
  }
  return kLogEntries[number];
}

int ComposeLogLine(char* out, int number, std::int64_t utcSeconds) {
  if (number < 0 || number >= kEntryCount) {
    out[0] = '\0';
    return 0;
  }
  // Saturate rather than overflow on a clock value near the end of time.
  const std::int64_t local = utcSeconds > INT64_MAX - kStampOffsetSeconds ? INT64_MAX : utcSeconds + kStampOffsetSeconds;
  const CivilTime t = CivilFromSeconds(local);
  const int length = std::snprintf(out, kLineBufferSize, "%04d/%02d/%02d %02d:%02d:%02d     %s\n",
                                   static_cast<int>(t.year), t.month, t.day, t.hour, t.minute, t.second,
                                   kLogEntries[number]);
  if (length < 0) {
    out[0] = '\0';
    return 0;
  }
  return length < static_cast<int>(kLineBufferSize) ? length : static_cast<int>(kLineBufferSize) - 1;
}

void WriteLogEntry(int number) { WriteLogEntry(number, SystemLogClock()); }

void WriteLogEntry(int number, const LogClock& clock) {
  char line[kLineBufferSize];
  const int length = ComposeLogLine(line, number, clock.UtcSeconds());
  if (length <= 0) {
    return;  // not one of the seven entries: nothing to write
  }
  AppendToExistingLog(line, static_cast<std::size_t>(length));
}

}  // namespace kv
