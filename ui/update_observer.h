// How the update engine reports to the operator. Called from the worker's
// thread; each operation has taken effect on its control before it returns,
// and ShowError returns only once the operator has dismissed the box.
#pragma once

#include <cstdint>

namespace kv {

class UpdateObserver {
 public:
  virtual void SetStatusText(const char* text) = 0;   // status field, control 1003
  virtual void SetStepText(const char* text) = 0;     // step field, control 1006
  virtual void SetProgressRange(std::int32_t low, std::int32_t high) = 0;  // control 1002
  virtual void SetProgressPos(std::int32_t pos) = 0;
  virtual void ShowError(int textNumber) = 0;         // caption text 111, error icon, OK
  virtual void RestoreControls() = 0;                 // lists, Execute, Rescan on; busy 0
  virtual void EnableExecute(bool flag) = 0;

 protected:
  ~UpdateObserver() = default;
};

}  // namespace kv
