// Start-up on Qt: the refusal box when all twenty numbers are taken, and the
// modal dialog of the first free number, which returns when it closes.
#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "midi/drivers/loopback_driver.h"
#include "midi/drivers/thread_timer_service.h"
#include "tests/qt/qt_test_support.h"
#include "ui/instance_claim.h"
#include "ui/qt/qt_app_platform.h"

namespace kv {
namespace {

// The claims live in the runtime directory: a private one per test keeps
// the numbering apart from any copy running elsewhere.
class AppPlatformTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kv-qt-app-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    held_.clear();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  void Hold(int number) {
    held_.push_back(ClaimInstanceName(InstanceName(number)));
    ASSERT_NE(held_.back(), nullptr) << number;
  }

  QtAppPlatform Platform() {
    return QtAppPlatform([this] {
      ++dialogsCreated_;
      return MidiServices{
          std::make_shared<midi::LoopbackDriver>(std::vector<std::string>{}, std::vector<std::string>{}),
          std::make_shared<midi::ThreadTimerService>()};
    });
  }

  std::string dir_;
  std::vector<std::unique_ptr<InstanceClaim>> held_;
  int dialogsCreated_ = 0;
  QObject context_;
};

TEST_F(AppPlatformTest, TwentyCopiesRunningGiveTheRefusalAndNoDialog) {
  for (int n = 1; n <= 20; ++n) {
    Hold(n);
  }
  QtAppPlatform platform = Platform();
  CTx3UpdatorApp app(platform);
  QString text, caption;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool shown = false;
  QWidget* owner = nullptr;
  test::WhenModalShows(&context_, [&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    text = box->text();
    caption = box->windowTitle();
    icon = box->icon();
    owner = box->parentWidget();
    shown = true;
    box->button(QMessageBox::Ok)->click();
  });
  EXPECT_FALSE(app.InitInstance());
  ASSERT_TRUE(shown);
  EXPECT_EQ(text, QStringLiteral("It is forbidden to launch more than 20 instance of this application."));
  EXPECT_EQ(caption, QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
  EXPECT_EQ(icon, QMessageBox::Warning);
  EXPECT_EQ(owner, nullptr);
  EXPECT_EQ(dialogsCreated_, 0);
  EXPECT_EQ(app.GetInstanceNumber(), 0);
}

TEST_F(AppPlatformTest, FirstFreeNumberRunsItsDialogUntilEscape) {
  Hold(1);
  Hold(2);
  QtAppPlatform platform = Platform();
  CTx3UpdatorApp app(platform);
  QString title;
  test::WhenModalShows(&context_, [&](QWidget* modal) {
    title = modal->windowTitle();
    QTest::keyClick(modal, Qt::Key_Escape);
  });
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(app.GetInstanceNumber(), 3);
  EXPECT_EQ(title, QStringLiteral("TARVO KV-12 v2.00 Updater (3)"));
  EXPECT_EQ(dialogsCreated_, 1);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace kv
