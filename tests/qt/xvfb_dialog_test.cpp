// The dialog on a real X server (Xvfb, xcb platform) as kv-updater builds it
// with KV_MIDI=sim: a run to "Version update completed." started with the
// Enter key, and screenshots of the result, of port names in code page 932
// and of the boxes, for a person to look at. The screenshots go to
// KV_SCREENSHOT_DIR (the build tree's screenshots/ under ctest).
#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "midi/drivers/loopback_driver.h"
#include "midi/drivers/thread_timer_service.h"
#include "sim/midi_backend.h"
#include "tests/qt/qt_test_support.h"
#include "ui/qt/qt_updator_dialog.h"

namespace kv {
namespace {

constexpr std::chrono::milliseconds kReleaseLimit{15000};

// The whole screen: with no window manager there is no title bar, only the
// dialog's client area where Qt has placed it.
void SaveScreenshot(const char* name) {
  const char* dir = std::getenv("KV_SCREENSHOT_DIR");
  const QString path = QDir(QString::fromLocal8Bit(dir != nullptr ? dir : ".")).filePath(QString::fromLatin1(name));
  QDir().mkpath(QFileInfo(path).absolutePath());
  const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
  ASSERT_FALSE(shot.isNull());
  ASSERT_TRUE(shot.save(path, "PNG")) << path.toStdString();
  std::printf("screenshot: %s\n", path.toLocal8Bit().constData());
}

QString FieldText(UpdatorDialogWindow& window, int id) { return test::ControlOf<QLineEdit>(window, id)->text(); }

TEST(XvfbDialogTest, RunStartedWithEnterCompletesOnTheSimulatedPedal) {
  ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
  setenv("KV_MIDI", "sim", 1);
  sim::MidiBackend backend = sim::SelectMidiBackend();
  ASSERT_NE(backend.pedal, nullptr);
  QtUpdatorDialog dialog(MidiServices{backend.driver, std::make_shared<midi::ThreadTimerService>()}, 1);
  UpdatorDialogWindow& window = dialog.Window();
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  EXPECT_EQ(QApplication::focusWidget(), window.Control(control::kExecute));

  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  ASSERT_TRUE(test::WaitFor(
      [&] { return FieldText(window, control::kStatusField) == QStringLiteral("Version update completed."); },
      120000))
      << FieldText(window, control::kStatusField).toStdString();
  ASSERT_TRUE(test::WaitFor([&] {
    return window.Control(control::kRescan)->isEnabled() && !window.Control(control::kExecute)->isEnabled();
  }));
  EXPECT_EQ(FieldText(window, control::kStepField), QStringLiteral("9/9"));
  EXPECT_TRUE(backend.pedal->Verify().ok) << backend.pedal->Verify().line;
  QTest::qWait(50);  // let the last repaint reach the server
  SaveScreenshot("kv-updater-completed.png");

  QTest::keyClick(&window, Qt::Key_Escape);
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(dialog.ReleaseHub(kReleaseLimit));
}

TEST(XvfbDialogTest, JapanesePortNamesAndTheBoxes) {
  const char japanese[] =
      "\x55\x53\x42\x20\x83\x49\x81\x5B\x83\x66\x83\x42\x83\x49\x20\x83\x66\x83\x6F\x83\x43\x83\x58";
  const std::vector<std::string> names = {"Other MIDI port", "TARVO KV Series", japanese};
  // Nothing answers behind these devices: Execute fails to open no port,
  // which gives the error box, and the About box comes from F1.
  QtUpdatorDialog dialog(MidiServices{std::make_shared<midi::LoopbackDriver>(names, std::vector<std::string>{}),
                                      std::make_shared<midi::ThreadTimerService>()},
                         1);
  UpdatorDialogWindow& window = dialog.Window();
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  QComboBox* out = window.List(control::kOutList);
  EXPECT_EQ(out->currentText(), QStringLiteral(u"USB オーディオ デバイス"));  // the last match wins
  out->showPopup();
  QTest::qWait(100);
  SaveScreenshot("kv-updater-japanese-ports.png");
  out->hidePopup();

  // The MIDI IN list is empty: Execute reports the input port.
  QString errorText;
  test::WhenModalShows(&window, [&](QWidget* box) {
    errorText = qobject_cast<QMessageBox*>(box)->text();
    QTest::qWait(100);
    SaveScreenshot("kv-updater-error-box.png");
    QTest::keyClick(box, Qt::Key_Return);
  });
  QTest::mouseClick(window.Control(control::kExecute), Qt::LeftButton);
  EXPECT_EQ(errorText, QStringLiteral("Can't open MIDI In device."));
  // With no window manager nobody hands the focus back after the box.
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

  QString aboutTitle;
  test::WhenModalShows(&window, [&](QWidget* box) {
    aboutTitle = box->windowTitle();
    QTest::qWait(100);
    SaveScreenshot("kv-updater-about-box.png");
    QTest::keyClick(box, Qt::Key_Escape);
  });
  QTest::keyClick(&window, Qt::Key_F1);
  EXPECT_EQ(aboutTitle, QStringLiteral("About KV-16 Updater"));

  window.close();
  EXPECT_TRUE(dialog.ReleaseHub(kReleaseLimit));
}

}  // namespace
}  // namespace kv
