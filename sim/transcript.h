// A record of a simulated pedal's SysEx dialogue: one line per message,
// "host" or "pedal", a blank, then the bytes as upper-case hex pairs
// separated by single blanks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "sim/pedal_model.h"

namespace kv::sim {

// The line for one message, without its newline.
std::string TranscriptLine(Direction direction, const std::uint8_t* data, std::size_t length);

class TranscriptWriter {
 public:
  // Creates or truncates `path`. IsOpen() tells whether that worked.
  explicit TranscriptWriter(const std::string& path);
  bool IsOpen() const { return file_ != nullptr; }
  // Not thread-safe; the model calls it under its own lock.
  void Write(Direction direction, const std::uint8_t* data, std::size_t length);

 private:
  struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, FileCloser> file_;
  std::string line_;
};

}  // namespace kv::sim
