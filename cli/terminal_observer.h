// The update's report on a terminal: the step field, the status texts and a
// progress bar, redrawn in place on one line when the output is a terminal,
// and as plain lines otherwise (every step, every status text, but the
// per-chunk "Data transmit" texts only at each quarter of an image). Each
// error box becomes its caption and text on the error stream.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "ui/update_observer.h"

namespace kv::cli {

class TerminalObserver final : public UpdateObserver {
 public:
  TerminalObserver(std::FILE* out, std::FILE* err, bool redrawInPlace);

  void SetStatusText(const char* text) override;
  void SetStepText(const char* text) override;
  void SetProgressRange(std::int32_t low, std::int32_t high) override;
  void SetProgressPos(std::int32_t pos) override;
  void ShowError(int textNumber) override;
  void RestoreControls() override {}
  void EnableExecute(bool) override {}

  // Ends the redrawn line, so that what follows starts on a line of its own.
  void Finish();

  bool ErrorShown() const;
  // The status field's last text is "Version update completed.".
  bool Completed() const;

 private:
  bool IsTransmitText(const std::string& text) const;
  int Percent() const;
  std::string Bar() const;
  void Redraw(bool force);
  void EndLine();

  std::FILE* out_;
  std::FILE* err_;
  const bool redrawInPlace_;

  mutable std::mutex mutex_;
  std::string step_;
  std::string status_;
  std::int32_t low_ = 0;
  std::int32_t high_ = 100;
  std::int32_t pos_ = 0;
  bool errorShown_ = false;
  bool lineOpen_ = false;  // a redrawn line is on screen without its newline
  std::size_t drawnLength_ = 0;
  std::chrono::steady_clock::time_point lastDraw_{};
  std::string lastTransmitStep_;
  std::int32_t lastTransmitPos_ = 0;
};

}  // namespace kv::cli
