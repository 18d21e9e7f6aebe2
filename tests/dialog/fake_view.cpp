#include "tests/dialog/fake_view.h"

#include <utility>

namespace kv::test {

FakeView::FakeView() : uiThread_(std::this_thread::get_id()) {}

void FakeView::Check() {
  if (std::this_thread::get_id() != uiThread_) {
    ++violations_;
  }
}

void FakeView::Record(std::string entry) {
  Check();
  log_.push_back(std::move(entry));
}

void FakeView::SetControlText(int id, const char* text) {
  Record("text " + std::to_string(id) + " " + text);
  texts_[id] = text;
}

void FakeView::EnableControl(int id, bool enable) {
  Record("enable " + std::to_string(id) + (enable ? " on" : " off"));
  enabled_[id] = enable;
}

void FakeView::ClearList(int id) {
  Record("clear " + std::to_string(id));
  lists_[id].clear();
  selections_[id] = -1;
}

void FakeView::AddListEntry(int id, const char* text) {
  Record("add " + std::to_string(id) + " " + text);
  lists_[id].push_back(text);
}

int FakeView::ListCount(int id) {
  Check();
  return static_cast<int>(lists_[id].size());
}

std::string FakeView::ListEntry(int id, int position) {
  Check();
  const std::vector<std::string>& list = lists_[id];
  return position >= 0 && position < static_cast<int>(list.size()) ? list[position] : std::string();
}

void FakeView::SelectListEntry(int id, int position) {
  Record("select " + std::to_string(id) + " " + std::to_string(position));
  selections_[id] = position;
}

int FakeView::ListSelection(int id) {
  Check();
  const auto it = selections_.find(id);
  return it == selections_.end() ? -1 : it->second;
}

void FakeView::SetProgressRange(std::int32_t low, std::int32_t high) {
  Record("range " + std::to_string(low) + " " + std::to_string(high));
  progressLow_ = low;
  progressHigh_ = high;
}

void FakeView::SetProgressPos(std::int32_t pos) {
  Check();  // too frequent to log
  progressPos_ = pos;
}

void FakeView::SetTitle(const char* title) {
  Record(std::string("title ") + title);
  title_ = title;
}

void FakeView::SetIcons() { Record("icons"); }

bool FakeView::HasWindowMenu() {
  Check();
  return hasWindowMenu;
}

void FakeView::AppendWindowMenuItem(int commandId, const char* label) {
  Record("menu " + std::to_string(commandId) + " " + label);
}

void FakeView::ShowMessageBox(const char* text, const char* caption, BoxIcon icon) {
  Record(std::string("box ") + text);
  boxes_.push_back({text, caption, icon});
  if (onMessageBox) {
    onMessageBox(boxes_.back());
  }
}

void FakeView::ShowAboutBox(const char* titleText) {
  Record(std::string("about ") + titleText);
  aboutBoxes_.push_back(titleText);
}

bool FakeView::RunOnUiThread(const std::function<void()>& call) {
  if (std::this_thread::get_id() == uiThread_) {
    ++violations_;  // would deadlock a real toolkit
    call();
    return true;
  }
  std::unique_lock<std::mutex> lock(queueMutex_);
  if (gone_) {
    ++refused_;
    return false;
  }
  ++marshalled_;
  auto pending = std::make_shared<Pending>();
  pending->call = &call;
  queue_.push_back(pending);
  queueChanged_.notify_all();
  queueChanged_.wait(lock, [&] { return pending->finished; });
  return pending->ran;
}

bool FakeView::RunOne(std::unique_lock<std::mutex>& lock) {
  if (queue_.empty()) {
    return false;
  }
  std::shared_ptr<Pending> pending = queue_.front();
  queue_.pop_front();
  lock.unlock();
  (*pending->call)();
  lock.lock();
  pending->ran = true;
  pending->finished = true;
  queueChanged_.notify_all();
  return true;
}

bool FakeView::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::unique_lock<std::mutex> lock(queueMutex_);
  for (;;) {
    while (RunOne(lock)) {
    }
    lock.unlock();
    const bool finished = done();
    lock.lock();
    if (finished) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    queueChanged_.wait_for(lock, std::chrono::milliseconds(2), [&] { return !queue_.empty(); });
  }
}

void FakeView::PumpFor(std::chrono::milliseconds duration) {
  PumpUntil([] { return false; }, duration);
}

void FakeView::MarkGone() {
  std::lock_guard<std::mutex> lock(queueMutex_);
  gone_ = true;
  for (const std::shared_ptr<Pending>& pending : queue_) {
    pending->finished = true;  // dropped: the caller is released, the call never runs
  }
  queue_.clear();
  queueChanged_.notify_all();
}

std::string FakeView::Text(int id) const {
  const auto it = texts_.find(id);
  return it == texts_.end() ? std::string() : it->second;
}

bool FakeView::Enabled(int id) const {
  const auto it = enabled_.find(id);
  return it == enabled_.end() || it->second;
}

std::vector<std::string> FakeView::Entries(int id) const {
  const auto it = lists_.find(id);
  return it == lists_.end() ? std::vector<std::string>() : it->second;
}

}  // namespace kv::test
