#include "tests/dialog/test_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace kv::test {

ScopedLogDirectory::ScopedLogDirectory() {
  char cwd[4096];
  if (::getcwd(cwd, sizeof cwd) != nullptr) {
    previous_ = cwd;
  }
  char pattern[] = "/tmp/kv-dialog-test-XXXXXX";
  if (::mkdtemp(pattern) != nullptr) {
    dir_ = pattern;
    if (::chdir(dir_.c_str()) == 0) {
      std::ofstream("TEST_LOG.txt");
    }
  }
}

ScopedLogDirectory::~ScopedLogDirectory() {
  if (!previous_.empty()) {
    [[maybe_unused]] const int ignored = ::chdir(previous_.c_str());
  }
  if (!dir_.empty()) {
    std::remove((dir_ + "/TEST_LOG.txt").c_str());
    ::rmdir(dir_.c_str());
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
