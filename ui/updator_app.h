// The program's start-up: claims an instance number from 1 to 20 by name,
// refuses to start when all twenty are taken, and runs the updater dialog
// once. The platform's part (control registration, the claim, the refusal
// box, the dialog's modal run) sits behind AppPlatform so that the numbering
// is the same on every platform and testable without one.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "ui/instance_claim.h"

namespace kv {

class AppPlatform {
 public:
  // Registers the toolkit's control classes before any dialog exists.
  virtual void RegisterControls() = 0;
  // Null when the name is held by another copy or cannot be claimed.
  virtual std::unique_ptr<InstanceClaim> ClaimInstance(const std::string& name) = 0;
  // The path of the running program file; the refusal box's caption is its
  // file name without the extension.
  virtual std::string ProgramFilePath() = 0;
  // A message box with one OK button and the warning icon, no owner window;
  // returns once dismissed.
  virtual void ShowRefusal(const char* text, const char* caption) = 0;
  // Creates the updater dialog for `instanceNumber`, runs it modally until it
  // closes and destroys it.
  virtual void RunDialog(int instanceNumber) = 0;

 protected:
  ~AppPlatform() = default;
};

class CTx3UpdatorApp {
 public:
  explicit CTx3UpdatorApp(AppPlatform& platform) : platform_(platform) {}
  CTx3UpdatorApp(const CTx3UpdatorApp&) = delete;
  CTx3UpdatorApp& operator=(const CTx3UpdatorApp&) = delete;

  // Start-up, once, on the main thread before any other thread exists.
  // Returns false in every case: the program ends when it returns.
  bool InitInstance();

  // 0 until start-up has claimed a number, then 1 to 20.
  int GetInstanceNumber() const { return instanceNumber; }

 private:
  AppPlatform& platform_;
  // Held until the process ends; the system releases it however that happens.
  std::unique_ptr<InstanceClaim> instanceMutex;
  int instanceNumber = 0;
};

// The claim name of instance n: the same text as its window title.
std::string InstanceName(int instanceNumber);

// "dir/kv-updater.exe" -> "kv-updater": the file name without its extension.
std::string ProgramNameFromPath(std::string_view path);

}  // namespace kv
