// A view for the hub's tests: records what the hub does to the window, runs
// the calls the worker marshals on the test's thread (the "UI thread") while
// the test pumps, and can play a window that is gone.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ui/dialog_view.h"

namespace kv::test {

struct MessageBoxRecord {
  std::string text;
  std::string caption;
  BoxIcon icon;
  bool operator==(const MessageBoxRecord&) const = default;
};

class FakeView final : public DialogView {
 public:
  FakeView();

  // --- DialogView (UI thread) ---
  void SetControlText(int id, const char* text) override;
  void EnableControl(int id, bool enable) override;
  void ClearList(int id) override;
  void AddListEntry(int id, const char* text) override;
  int ListCount(int id) override;
  std::string ListEntry(int id, int position) override;
  void SelectListEntry(int id, int position) override;
  int ListSelection(int id) override;
  void SetProgressRange(std::int32_t low, std::int32_t high) override;
  void SetProgressPos(std::int32_t pos) override;
  void SetTitle(const char* title) override;
  void SetIcons() override;
  bool HasWindowMenu() override;
  void AppendWindowMenuItem(int commandId, const char* label) override;
  void ShowMessageBox(const char* text, const char* caption, BoxIcon icon) override;
  void ShowAboutBox(const char* titleText) override;
  // Any thread: queued for the UI thread, run while the test pumps.
  bool RunOnUiThread(const std::function<void()>& call) override;

  // --- driving (UI thread) ---
  // Runs queued calls until `done()` holds; false if `limit` passed first.
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(60));
  // Runs queued calls for a while.
  void PumpFor(std::chrono::milliseconds duration);
  // The window is gone: queued calls are dropped (their callers get false)
  // and every later RunOnUiThread returns false at once.
  void MarkGone();

  // Runs on the UI thread while a message box is open; by default the box
  // is dismissed at once. A test closes the dialog from here.
  std::function<void(const MessageBoxRecord&)> onMessageBox;
  bool hasWindowMenu = true;

  // --- observing (UI thread) ---
  const std::vector<std::string>& Log() const { return log_; }  // every call, in order
  void ClearLog() { log_.clear(); }
  std::string Text(int id) const;
  bool Enabled(int id) const;  // controls start enabled
  std::vector<std::string> Entries(int id) const;
  std::int32_t ProgressLow() const { return progressLow_; }
  std::int32_t ProgressHigh() const { return progressHigh_; }
  std::int32_t ProgressPos() const { return progressPos_; }
  const std::vector<MessageBoxRecord>& Boxes() const { return boxes_; }
  const std::vector<std::string>& AboutBoxes() const { return aboutBoxes_; }
  std::string Title() const { return title_; }
  // View calls that came from a thread other than the UI thread, and
  // RunOnUiThread calls made from the UI thread itself: both hub faults.
  int ThreadViolations() const { return violations_.load(); }
  int MarshalledCalls() const { return marshalled_.load(); }
  // Calls that arrived after MarkGone.
  int RefusedCalls() const { return refused_.load(); }

 private:
  struct Pending {
    const std::function<void()>* call;
    bool finished = false;
    bool ran = false;
  };
  void Check();
  void Record(std::string entry);
  bool RunOne(std::unique_lock<std::mutex>& lock);

  const std::thread::id uiThread_;
  std::atomic<int> violations_{0};
  std::atomic<int> marshalled_{0};
  std::atomic<int> refused_{0};

  std::mutex queueMutex_;
  std::condition_variable queueChanged_;
  std::deque<std::shared_ptr<Pending>> queue_;
  bool gone_ = false;

  // UI-thread state.
  std::vector<std::string> log_;
  std::map<int, std::string> texts_;
  std::map<int, bool> enabled_;
  std::map<int, std::vector<std::string>> lists_;
  std::map<int, int> selections_;
  std::int32_t progressLow_ = 0, progressHigh_ = 0, progressPos_ = 0;
  std::string title_;
  std::vector<MessageBoxRecord> boxes_;
  std::vector<std::string> aboutBoxes_;
};

}  // namespace kv::test
