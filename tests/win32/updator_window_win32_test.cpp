// The Win32 updater dialog in this process: the main thread runs it as the
// program does, a probe thread looks at it and drives it. Needs a display
// (Xvfb under Wine here).
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "midi/drivers/mm_timer_service_win32.h"
#include "midi/drivers/winmm_driver_win32.h"
#include "sim/midi_backend.h"
#include "ui/message_texts.h"
#include "ui/win32/updator_window_win32.h"
#include "window_probe.h"

namespace {

using kv::test::FindDialogOfThread;
using kv::test::PostCommand;
using kv::test::RectIn;
using kv::test::TextOf;
using kv::test::WaitForWindow;
using kv::test::WaitUntil;

class UpdatorWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) {
      GTEST_SKIP() << "no display: start Xvfb and set DISPLAY";
    }
    setup_.timerService = std::make_shared<kv::midi::MmTimerService>();
  }

  // Runs the dialog on this thread until `probe` (on its own thread) is done
  // with it; then the dialog is closed with Exit.
  void RunWithProbe(const std::function<void(HWND)>& probe) {
    const DWORD uiThread = GetCurrentThreadId();
    std::thread prober([&] {
      HWND dialog = WaitForWindow([&] { return FindDialogOfThread(uiThread, nullptr); });
      ASSERT_NE(dialog, nullptr) << "the dialog did not appear";
      probe(dialog);
      if (IsWindow(dialog)) PostCommand(dialog, IDCANCEL);
    });
    kv::win32::RunUpdatorWindow(GetModuleHandleA(nullptr), setup_);
    prober.join();
  }

  // The box shown over `dialog` with `caption`, its text, then dismissed.
  static std::string TakeBox(HWND dialog, const char* caption) {
    HWND box = WaitForWindow([&] { return FindDialogOfThread(GetWindowThreadProcessId(dialog, nullptr), caption, dialog); });
    if (box == nullptr) return "<no box>";
    const auto texts = kv::test::StaticTextsOf(box);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    WaitUntil([&] { return !IsWindow(box); });
    return texts.empty() ? "<empty box>" : texts.front();
  }

  // Where the dialog manager puts a control of the template: position and
  // size are each converted from dialog units on their own.
  static RECT DialogUnits(HWND dialog, int x, int y, int w, int h) {
    RECT rect{x, y, w, h};
    MapDialogRect(dialog, &rect);
    return RECT{rect.left, rect.top, rect.left + rect.right, rect.top + rect.bottom};
  }

  kv::win32::UpdatorWindowSetup setup_;
};

void ExpectRect(const RECT& actual, const RECT& expected, const std::string& what) {
  EXPECT_EQ(actual.left, expected.left) << what;
  EXPECT_EQ(actual.top, expected.top) << what;
  EXPECT_EQ(actual.right, expected.right) << what;
  EXPECT_EQ(actual.bottom, expected.bottom) << what;
}

LONG StyleOf(HWND window) { return GetWindowLongA(window, GWL_STYLE); }

struct ControlRow {
  int id;  // -1: an unnamed static, found by its text
  const char* className;
  const char* text;
  int x, y, w, h;
  LONG styleSet;
  LONG styleClear;
};

// The template as the running dialog shows it, in tab order. (The template
// itself is checked to the bit elsewhere; at run time a combo box passes its
// scroll bar to its list, and the progress bar draws its border as an edge.)
const ControlRow kControls[] = {
    {1, "Button", "Execute", 119, 138, 50, 16, BS_DEFPUSHBUTTON | WS_TABSTOP, 0},
    {2, "Button", "Exit", 182, 138, 50, 16, WS_TABSTOP, BS_DEFPUSHBUTTON},
    {-1, "Static", "MIDI IN", 7, 7, 225, 8, WS_GROUP, SS_CENTER | SS_RIGHT},
    {-1, "Static", "MIDI OUT", 7, 37, 225, 8, WS_GROUP, SS_CENTER | SS_RIGHT},
    {1000, "ComboBox", "", 7, 15, 225, 115, CBS_DROPDOWNLIST | WS_TABSTOP, CBS_SORT},
    {1001, "ComboBox", "", 7, 45, 225, 115, CBS_DROPDOWNLIST | WS_TABSTOP, CBS_SORT},
    {1002, PROGRESS_CLASSA, "", 7, 107, 225, 14, 0, 0},
    {1003, "Edit", "", 12, 91, 220, 12, ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP, WS_BORDER | ES_MULTILINE},
    {1004, "Button", "Rescan Device", 145, 65, 87, 16, WS_TABSTOP, BS_DEFPUSHBUTTON},
    {1005, "Static", "", 7, 134, 20, 20, SS_BITMAP, 0},
    {1006, "Edit", "", 12, 78, 29, 12, ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP, WS_BORDER | ES_MULTILINE},
};

TEST_F(UpdatorWindowTest, ShowsTheTemplateInDialogUnitsWithTitleMenuAndFocus) {
  setup_.driver = std::make_shared<kv::midi::WinmmDriver>();
  RunWithProbe([&](HWND dialog) {
    EXPECT_EQ(TextOf(dialog), kv::TitleText);
    const LONG style = StyleOf(dialog);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_POPUP | DS_MODALFRAME),
              WS_CAPTION | WS_SYSMENU | WS_POPUP | DS_MODALFRAME);
    EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
    EXPECT_NE(GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
    RECT client{};
    GetClientRect(dialog, &client);
    ExpectRect(client, DialogUnits(dialog, 0, 0, 239, 161), "client area");

    // Children in creation order are the tab order.
    HWND child = GetWindow(dialog, GW_CHILD);
    for (const ControlRow& row : kControls) {
      const std::string what = std::string(row.className) + " " + row.text + " (" + std::to_string(row.id) + ")";
      ASSERT_NE(child, nullptr) << what;
      if (row.id > 0) {
        EXPECT_EQ(child, GetDlgItem(dialog, row.id)) << what;
      }
      EXPECT_EQ(_stricmp(kv::test::ClassOf(child).c_str(), row.className), 0) << what << ": " << kv::test::ClassOf(child);
      EXPECT_EQ(TextOf(child), row.text) << what;
      EXPECT_EQ(StyleOf(child) & row.styleSet, row.styleSet) << what;
      EXPECT_EQ(StyleOf(child) & row.styleClear, 0) << what;
      const RECT expected = DialogUnits(dialog, row.x, row.y, row.w, row.h);
      const RECT actual = RectIn(dialog, child);
      if (std::string(row.className) == "ComboBox") {
        // The window is the closed box; the template's height includes the dropped list.
        EXPECT_EQ(actual.left, expected.left) << what;
        EXPECT_EQ(actual.top, expected.top) << what;
        EXPECT_EQ(actual.right, expected.right) << what;
      } else {
        ExpectRect(actual, expected, what);
      }
      child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr) << "a control beyond the template";

    EXPECT_EQ(SendMessageA(dialog, DM_GETDEFID, 0, 0), MAKELONG(1, DC_HASDEFID));
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &gui);
    EXPECT_EQ(gui.hwndFocus, GetDlgItem(dialog, 1));

    PBRANGE range{};
    SendDlgItemMessageA(dialog, 1002, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 100);
    EXPECT_EQ(SendDlgItemMessageA(dialog, 1002, PBM_GETPOS, 0, 0), 0);

    // Icon 128 is the window's large and small icon and its drag icon.
    const auto icon = reinterpret_cast<LRESULT>(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(128)));
    ASSERT_NE(icon, 0);
    EXPECT_EQ(SendMessageA(dialog, WM_GETICON, ICON_BIG, 0), icon);
    EXPECT_EQ(SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0), icon);
    EXPECT_EQ(SendMessageA(dialog, WM_QUERYDRAGICON, 0, 0), icon);

    // The system menu ends with a separator and the About item.
    HMENU menu = GetSystemMenu(dialog, FALSE);
    ASSERT_NE(menu, nullptr);
    const int count = GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    EXPECT_NE(GetMenuState(menu, count - 2, MF_BYPOSITION) & MF_SEPARATOR, 0u);
    EXPECT_EQ(GetMenuItemID(menu, count - 1), 16u);
    char label[64] = {};
    GetMenuStringA(menu, count - 1, label, sizeof label, MF_BYPOSITION);
    EXPECT_STREQ(label, "About KV-14 Updater(&A)...");
  });
}

TEST_F(UpdatorWindowTest, AboutItemOpensTheAboutBoxWithTheTitleText) {
  setup_.driver = std::make_shared<kv::midi::WinmmDriver>();
  setup_.instanceNumber = 3;
  RunWithProbe([&](HWND dialog) {
    EXPECT_EQ(TextOf(dialog), std::string(kv::TitleText) + " (3)");
    // The platform may set the low four bits of a system command.
    PostMessageA(dialog, WM_SYSCOMMAND, 16 | 0x7, 0);
    HWND about = WaitForWindow(
        [&] { return FindDialogOfThread(GetWindowThreadProcessId(dialog, nullptr), "About KV-16 Updater", dialog); });
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(TextOf(GetDlgItem(about, 1003)), kv::TitleText);
    EXPECT_NE(StyleOf(GetDlgItem(about, 1003)) & ES_READONLY, 0);
    EXPECT_EQ(StyleOf(GetDlgItem(about, 1003)) & WS_BORDER, 0);
    ExpectRect(RectIn(about, GetDlgItem(about, 1003)), DialogUnits(about, 39, 19, 134, 14), "title field");
    ExpectRect(RectIn(about, GetDlgItem(about, 1)), DialogUnits(about, 178, 7, 50, 16), "OK");
    RECT client{};
    GetClientRect(about, &client);
    ExpectRect(client, DialogUnits(about, 0, 0, 235, 60), "About client area");
    EXPECT_FALSE(IsWindowEnabled(dialog)) << "the About box is modal";
    PostCommand(about, IDOK);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(about); }));
    EXPECT_TRUE(IsWindow(dialog));
  });
}

// Creates TEST_LOG.txt in a fresh directory and makes it current for the test.
class LogDirectory {
 public:
  LogDirectory() {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    path_ = std::string(base) + "kv-win32-log-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(path_.c_str(), nullptr);
    std::ofstream(path_ + "\\TEST_LOG.txt", std::ios::binary | std::ios::trunc);
    GetCurrentDirectoryA(MAX_PATH, previous_);
    SetCurrentDirectoryA(path_.c_str());
  }
  ~LogDirectory() {
    SetCurrentDirectoryA(previous_);
    DeleteFileA((path_ + "\\TEST_LOG.txt").c_str());
    RemoveDirectoryA(path_.c_str());
  }
  std::string Log() const {
    std::ifstream in(path_ + "\\TEST_LOG.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  std::string path_;
  char previous_[MAX_PATH] = {};
};

TEST_F(UpdatorWindowTest, ExecuteWithoutDevicesShowsTheOutputErrorAndLogsOneLine) {
  auto driver = std::make_shared<kv::midi::WinmmDriver>();
  if (driver->OutGetNumDevs() != 0 || driver->InGetNumDevs() != 0) {
    GTEST_SKIP() << "this machine has MIDI devices";
  }
  setup_.driver = driver;
  LogDirectory logDirectory;
  RunWithProbe([&](HWND dialog) {
    EXPECT_EQ(SendDlgItemMessageA(dialog, 1001, CB_GETCOUNT, 0, 0), 0);
    PostCommand(dialog, 1);
    EXPECT_EQ(TakeBox(dialog, "Error"), "Can't open MIDI Out device.");
    for (int id : {1000, 1001, 1, 1004, 2}) {
      EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, id))) << id;
    }
  });
  // Text mode on Windows: the line ends with a carriage return and a line feed.
  EXPECT_TRUE(std::regex_match(logDirectory.Log(),
                               std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d     Midi out error\.\r\n)")))
      << logDirectory.Log();
}

TEST_F(UpdatorWindowTest, SimulatedPedalIsUpdatedFromTheDialog) {
  std::string error;
  kv::sim::MidiBackend backend = kv::sim::SimulatedBackend(kv::sim::Scenario{}, error);
  ASSERT_TRUE(backend.driver) << error;
  setup_.driver = backend.driver;
  RunWithProbe([&](HWND dialog) {
    // The pedal's ports are preselected by name.
    EXPECT_EQ(SendDlgItemMessageA(dialog, 1000, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(SendDlgItemMessageA(dialog, 1001, CB_GETCURSEL, 0, 0), 0);
    PostCommand(dialog, 1);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowEnabled(GetDlgItem(dialog, 1004)); }, 5000));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, 2)));
    ASSERT_TRUE(WaitUntil([&] { return TextOf(GetDlgItem(dialog, 1003)) == "Version update completed."; }, 120000))
        << TextOf(GetDlgItem(dialog, 1003));
    EXPECT_EQ(TextOf(GetDlgItem(dialog, 1006)), "9/9");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, 1)));
    for (int id : {1000, 1001, 1004}) {
      EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, id))) << id;
    }
    PostCommand(dialog, 1004);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(GetDlgItem(dialog, 1)) != FALSE; }));
  });
  const kv::sim::VerifyResult verified = backend.pedal->Verify();
  EXPECT_TRUE(verified.ok) << verified.line;
}

TEST_F(UpdatorWindowTest, ExitDuringAnUpdateEndsTheWorkerWithoutABox) {
  std::string error;
  kv::sim::MidiBackend backend = kv::sim::SimulatedBackend(kv::sim::Scenario{}, error);
  ASSERT_TRUE(backend.driver) << error;
  const long idle = backend.driver.use_count();
  setup_.driver = backend.driver;
  RunWithProbe([&](HWND dialog) {
    PostCommand(dialog, 1);
    // Into the flash plan: the worker is sending and reporting.
    EXPECT_TRUE(WaitUntil(
        [&] {
          const std::string step = TextOf(GetDlgItem(dialog, 1006));
          return step.size() == 3 && step[0] >= '2' && step[0] <= '8';
        },
        60000));
  });
  setup_.driver.reset();
  // The worker ends at its next wait and lets the hub, and with it the
  // driver, go; no error box comes up on the way.
  EXPECT_TRUE(WaitUntil([&] { return backend.driver.use_count() == idle; }, 20000)) << backend.driver.use_count();
  EXPECT_EQ(FindDialogOfThread(GetCurrentThreadId(), "Error"), nullptr);
}

}  // namespace
