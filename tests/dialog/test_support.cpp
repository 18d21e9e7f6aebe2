#include "tests/dialog/test_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

namespace kv::test {

ScopedLogDirectory::ScopedLogDirectory() {
  namespace fs = std::filesystem;
  std::error_code error;
  previous_ = fs::current_path(error).string();
  // A fresh directory of our own (create_directory is false for one that exists).
  std::random_device random;
  for (int attempt = 0; attempt < 100 && dir_.empty(); ++attempt) {
    const fs::path candidate = fs::temp_directory_path(error) / ("kv-dialog-test-" + std::to_string(random()));
    if (fs::create_directory(candidate, error)) {
      dir_ = candidate.string();
    }
  }
  if (!dir_.empty()) {
    fs::current_path(dir_, error);
    if (!error) {
      std::ofstream("TEST_LOG.txt");
    }
  }
}

ScopedLogDirectory::~ScopedLogDirectory() {
  std::error_code ignored;
  if (!previous_.empty()) {
    std::filesystem::current_path(previous_, ignored);
  }
  if (!dir_.empty()) {
    std::filesystem::remove(std::filesystem::path(dir_) / "TEST_LOG.txt", ignored);
    std::filesystem::remove(dir_, ignored);
  }
}

std::vector<std::string> ScopedLogDirectory::Lines() const {
  std::vector<std::string> lines;
  std::ifstream in(dir_ + "/TEST_LOG.txt");
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

bool CloseAndRelease(FakeView& view, std::shared_ptr<CTx3UpdatorDlg>& hub, std::vector<std::weak_ptr<void>> alsoReleased) {
  if (hub) {
    hub->OnDestroyWindow();
    view.MarkGone();
    alsoReleased.push_back(hub);
    hub.reset();
  }
  return view.PumpUntil([&] {
    for (const std::weak_ptr<void>& w : alsoReleased) {
      if (!w.expired()) {
        return false;
      }
    }
    return true;
  });
}

}  // namespace kv::test
