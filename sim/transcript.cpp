#include "sim/transcript.h"

namespace kv::sim {

namespace {

void AppendLine(std::string& line, Direction direction, const std::uint8_t* data, std::size_t length) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  line.assign(direction == Direction::kHost ? "host" : "pedal");
  line.reserve(line.size() + 3 * length + 1);
  for (std::size_t k = 0; k < length; ++k) {
    line.push_back(' ');
    line.push_back(kHex[data[k] >> 4]);
    line.push_back(kHex[data[k] & 0x0F]);
  }
}

}  // namespace

std::string TranscriptLine(Direction direction, const std::uint8_t* data, std::size_t length) {
  std::string line;
  AppendLine(line, direction, data, length);
  return line;
}

TranscriptWriter::TranscriptWriter(const std::string& path) : file_(std::fopen(path.c_str(), "w")) {}

void TranscriptWriter::Write(Direction direction, const std::uint8_t* data, std::size_t length) {
  if (!file_) {
    return;
  }
  AppendLine(line_, direction, data, length);
  line_.push_back('\n');
  std::fwrite(line_.data(), 1, line_.size(), file_.get());
}

}  // namespace kv::sim
