#include "cli/terminal_observer.h"

#include <algorithm>
#include <cstring>

#include "ui/message_texts.h"

namespace kv::cli {

namespace {

constexpr int kBarWidth = 30;
constexpr std::size_t kStepWidth = 5;  // "9/9" and room
constexpr auto kRedrawInterval = std::chrono::milliseconds(50);
constexpr int kTransmitQuarters = 4;
constexpr int kCompletedText = 108;
constexpr int kErrorCaption = 111;
constexpr int kTransmitText = 115;

}  // namespace

TerminalObserver::TerminalObserver(std::FILE* out, std::FILE* err, bool redrawInPlace)
    : out_(out), err_(err), redrawInPlace_(redrawInPlace) {}

bool TerminalObserver::IsTransmitText(const std::string& text) const {
  // Text 115 up to its first conversion: "Data transmit  ".
  const char* format = LoadMessageText(kTransmitText);
  const std::size_t fixed = std::strcspn(format, "%");
  return fixed > 0 && text.compare(0, fixed, format, fixed) == 0;
}

int TerminalObserver::Percent() const {
  const std::int64_t span = static_cast<std::int64_t>(high_) - low_;
  if (span <= 0) {
    return 0;
  }
  std::int64_t done = static_cast<std::int64_t>(pos_) - low_;
  done = done < 0 ? 0 : (done > span ? span : done);
  return static_cast<int>(done * 100 / span);
}

std::string TerminalObserver::Bar() const {
  const int filled = Percent() * kBarWidth / 100;
  std::string bar(1, '[');
  bar.append(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kBarWidth - filled), '-');
  bar.append("] ").append(std::to_string(Percent())).push_back('%');
  return bar;
}

void TerminalObserver::Redraw(bool force) {
  if (!redrawInPlace_) {
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (!force && now - lastDraw_ < kRedrawInterval) {
    return;
  }
  lastDraw_ = now;
  // Blanks over whatever the previous drawing left to the right.
  std::string line = step_;
  line.resize(std::max<std::size_t>(line.size(), kStepWidth), ' ');
  line.append(" ").append(Bar()).append(" ").append(status_);
  const std::size_t length = line.size();
  if (length < drawnLength_) {
    line.append(drawnLength_ - length, ' ');
  }
  drawnLength_ = length;
  std::fprintf(out_, "\r%s", line.c_str());
  std::fflush(out_);
  lineOpen_ = true;
}

void TerminalObserver::EndLine() {
  if (lineOpen_) {
    std::fputc('\n', out_);
    std::fflush(out_);
    lineOpen_ = false;
    drawnLength_ = 0;
  }
}

void TerminalObserver::SetStepText(const char* text) {
  std::lock_guard lock(mutex_);
  step_ = text;
  if (redrawInPlace_) {
    Redraw(true);
  } else {
    std::fprintf(out_, "Step %s\n", text);
    std::fflush(out_);
  }
}

void TerminalObserver::SetStatusText(const char* text) {
  std::lock_guard lock(mutex_);
  const bool changed = status_ != text;
  status_ = text;
  const bool transmit = IsTransmitText(status_);
  if (redrawInPlace_) {
    Redraw(changed && !transmit);
    return;
  }
  if (status_.empty()) {
    return;
  }
  if (transmit) {
    // The first chunk of a step, then each time another quarter is done.
    const std::int64_t quarter = (static_cast<std::int64_t>(high_) - low_) / kTransmitQuarters;
    if (lastTransmitStep_ == step_ && pos_ - lastTransmitPos_ < quarter) {
      return;
    }
    lastTransmitStep_ = step_;
    lastTransmitPos_ = pos_;
    std::fprintf(out_, "%s (%d%%)\n", status_.c_str(), Percent());
  } else {
    std::fprintf(out_, "%s\n", status_.c_str());
  }
  std::fflush(out_);
}

void TerminalObserver::SetProgressRange(std::int32_t low, std::int32_t high) {
  std::lock_guard lock(mutex_);
  low_ = low;
  high_ = high;
  Redraw(false);
}

void TerminalObserver::SetProgressPos(std::int32_t pos) {
  std::lock_guard lock(mutex_);
  pos_ = pos;
  Redraw(pos >= high_);
}

void TerminalObserver::ShowError(int textNumber) {
  std::lock_guard lock(mutex_);
  errorShown_ = true;
  EndLine();
  std::fprintf(err_, "%s: %s\n", LoadMessageText(kErrorCaption), LoadMessageText(textNumber));
  std::fflush(err_);
}

void TerminalObserver::Finish() {
  std::lock_guard lock(mutex_);
  if (lineOpen_) {
    Redraw(true);
  }
  EndLine();
}

bool TerminalObserver::ErrorShown() const {
  std::lock_guard lock(mutex_);
  return errorShown_;
}

bool TerminalObserver::Completed() const {
  std::lock_guard lock(mutex_);
  return status_ == LoadMessageText(kCompletedText);
}

}  // namespace kv::cli
