// The diagnostic log: one time-stamped line per reported failure, appended
// to "TEST_LOG.txt" in the current directory only when that file exists.
#pragma once

#include <cstdint>

namespace kv {

// The UTC clock, to the second, behind a seam so tests can fix the time.
class LogClock {
 public:
  virtual std::int64_t UtcSeconds() const = 0;  // seconds since 1970-01-01 00:00:00 UTC

 protected:
  ~LogClock() = default;
};

const LogClock& SystemLogClock();

// Entries 0 to 6. Every failure is silent.
void WriteLogEntry(int number);
void WriteLogEntry(int number, const LogClock& clock);

// The line for `number` at `utcSeconds` (UTC+9 applied), with its newline,
// into `out` (at least 100 bytes). Returns the length.
int ComposeLogLine(char* out, int number, std::int64_t utcSeconds);

const char* LogEntryText(int number);

}  // namespace kv
