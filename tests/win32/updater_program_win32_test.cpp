// kv-updater.exe as the operator runs it, against the simulated pedal
// (KV_MIDI=sim): a full update, a second copy numbered 2, and a picture of
// the finished dialog in the build tree (updater-dialog.bmp). Needs a display.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "ui/message_texts.h"
#include "window_probe.h"

namespace {

using kv::test::FindDialogOfProcess;
using kv::test::PostCommand;
using kv::test::TextOf;
using kv::test::WaitForWindow;
using kv::test::WaitUntil;

// One running copy of the program; closed with its close box at the end.
class Program {
 public:
  Program() {
    SetEnvironmentVariableA("KV_MIDI", "sim");
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::string command = std::string("\"") + KV_UPDATER_EXE + "\"";
    if (CreateProcessA(KV_UPDATER_EXE, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &info_)) {
      CloseHandle(info_.hThread);
    }
    SetEnvironmentVariableA("KV_MIDI", nullptr);
  }
  ~Program() {
    if (info_.hProcess == nullptr) return;
    if (WaitForSingleObject(info_.hProcess, 0) != WAIT_OBJECT_0) {
      TerminateProcess(info_.hProcess, 1);
      WaitForSingleObject(info_.hProcess, 10000);
    }
    CloseHandle(info_.hProcess);
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  HWND Dialog(const std::string& title) {
    return WaitForWindow([&] { return FindDialogOfProcess(info_.dwProcessId, title.c_str()); });
  }
  // Closes the window as the operator would; the program's exit code.
  DWORD Close(HWND dialog) {
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    DWORD code = 999;
    if (WaitForSingleObject(info_.hProcess, 15000) == WAIT_OBJECT_0) GetExitCodeProcess(info_.hProcess, &code);
    return code;
  }

 private:
  PROCESS_INFORMATION info_{};
};

TEST(UpdaterProgram, UpdatesTheSimulatedPedalAndNumbersASecondCopy) {
  if (std::getenv("DISPLAY") == nullptr) {
    GTEST_SKIP() << "no display: start Xvfb and set DISPLAY";
  }
  Program first;
  HWND dialog = first.Dialog(kv::TitleText);
  ASSERT_NE(dialog, nullptr) << "no window titled " << kv::TitleText;

  {
    Program second;
    HWND secondDialog = second.Dialog(std::string(kv::TitleText) + " (2)");
    EXPECT_NE(secondDialog, nullptr);
    if (secondDialog != nullptr) {
      EXPECT_EQ(second.Close(secondDialog), 0u);
    }
  }

  PostCommand(dialog, 1);
  ASSERT_TRUE(WaitUntil([&] { return TextOf(GetDlgItem(dialog, 1003)) == "Version update completed."; }, 120000))
      << TextOf(GetDlgItem(dialog, 1003));
  EXPECT_EQ(TextOf(GetDlgItem(dialog, 1006)), "9/9");
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, 1)));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, 1004)));
  EXPECT_EQ(SendDlgItemMessageA(dialog, 1002, PBM_GETPOS, 0, 0),
            SendDlgItemMessageA(dialog, 1002, PBM_GETRANGE, FALSE, 0));

  Sleep(200);  // let the last repaint land before the picture
  EXPECT_TRUE(kv::test::SaveWindowPicture(dialog, "updater-dialog.bmp"));
  EXPECT_EQ(first.Close(dialog), 0u);
}

}  // namespace
