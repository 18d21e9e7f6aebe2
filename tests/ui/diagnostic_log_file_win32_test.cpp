#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "ui/diagnostic_log.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

class FixedClock final : public LogClock {
 public:
  explicit FixedClock(std::int64_t seconds) : seconds_(seconds) {}
  std::int64_t UtcSeconds() const override { return seconds_; }

 private:
  std::int64_t seconds_;
};

// Each test runs in a fresh empty directory, the log's "current directory".
class LogFileWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / (std::string("kv-log-") + info->name());
    fs::remove_all(dir_);
    fs::create_directory(dir_);
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(previous_);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  static std::string RawContents() {
    std::ifstream in("TEST_LOG.txt", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  fs::path previous_;
  fs::path dir_;
};

// Text mode: on this platform every line ends with carriage return and line feed.
TEST_F(LogFileWindows, AppendsLinesEndingInCarriageReturnLineFeed) {
  { std::ofstream("TEST_LOG.txt", std::ios::binary) << "earlier\r\n"; }
  WriteLogEntry(0, FixedClock(1333224907));
  WriteLogEntry(6, FixedClock(1356966000));
  EXPECT_EQ(RawContents(),
            "earlier\r\n"
            "2012/04/01 05:15:07     Midi out error.\r\n"
            "2013/01/01 00:00:00     (Write)Time Out Error.\r\n");
}

TEST_F(LogFileWindows, NoFileOrAFolderOfThatNameTakesNothing) {
  WriteLogEntry(0, FixedClock(0));
  EXPECT_TRUE(fs::is_empty(dir_));
  fs::create_directory("TEST_LOG.txt");
  WriteLogEntry(0, FixedClock(0));
  EXPECT_TRUE(fs::is_directory("TEST_LOG.txt"));
  EXPECT_TRUE(fs::is_empty("TEST_LOG.txt"));
}

}  // namespace
}  // namespace kv
