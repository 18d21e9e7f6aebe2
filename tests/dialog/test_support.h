// Small helpers shared by the dialog tests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/dialog/fake_view.h"
#include "ui/updator_dlg.h"

namespace kv::test {

// Runs the test in a fresh temporary directory holding an empty
// "TEST_LOG.txt", so the diagnostic log is on; restores the old directory.
class ScopedLogDirectory {
 public:
  ScopedLogDirectory();
  ~ScopedLogDirectory();
  ScopedLogDirectory(const ScopedLogDirectory&) = delete;
  ScopedLogDirectory& operator=(const ScopedLogDirectory&) = delete;
  std::vector<std::string> Lines() const;

 private:
  std::string previous_;
  std::string dir_;
};

// Closes the dialog as a toolkit does when the window is destroyed (the hub's
// handler, then the window is gone for marshalled calls), then drops the
// test's references to the hub and its shared services and waits, pumping,
// until the last of them is released: by then every worker has ended and
// the hub's destructor has finished. False on time-out.
bool CloseAndRelease(FakeView& view, std::shared_ptr<CTx3UpdatorDlg>& hub,
                     std::vector<std::weak_ptr<void>> alsoReleased = {});

}  // namespace kv::test
