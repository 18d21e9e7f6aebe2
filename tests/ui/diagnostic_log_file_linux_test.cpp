#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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
class LogFile : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    std::string pattern = (fs::temp_directory_path() / "kv-log-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(previous_);
    std::error_code ignored;
    fs::permissions(dir_ / "TEST_LOG.txt", fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(dir_, ignored);
  }

  static std::string Contents() {
    std::ifstream in("TEST_LOG.txt", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // Writing with every entry must neither create nor change anything.
  static void WriteEveryEntry() {
    const FixedClock clock(1333224907);
    for (int number = -1; number <= 7; ++number) {
      WriteLogEntry(number, clock);
    }
  }

  fs::path previous_;
  fs::path dir_;
};

TEST_F(LogFile, WithoutTheFileNothingIsCreated) {
  WriteEveryEntry();
  WriteLogEntry(0);  // the system clock as well
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(LogFile, AppendsOneLinePerEntryAfterWhatIsThere) {
  { std::ofstream("TEST_LOG.txt") << "earlier run\n"; }
  WriteLogEntry(0, FixedClock(1333224907));
  WriteLogEntry(4, FixedClock(1356966000));
  WriteLogEntry(7, FixedClock(0));  // not an entry: dropped
  EXPECT_EQ(Contents(),
            "earlier run\n"
            "2012/04/01 05:15:07     Midi out error.\n"
            "2013/01/01 00:00:00     (CRC)Transfer error occurred.\n");
}

TEST_F(LogFile, FileDeletedBetweenLinesIsNotRecreated) {
  { std::ofstream("TEST_LOG.txt"); }
  WriteLogEntry(1, FixedClock(0));
  EXPECT_EQ(Contents(), "1970/01/01 09:00:00     Illegal device connected.\n");
  fs::remove("TEST_LOG.txt");
  WriteLogEntry(1, FixedClock(0));
  EXPECT_FALSE(fs::exists("TEST_LOG.txt"));
}

// Names that exist but are no file to append to: the line is dropped in
// silence and nothing is created or changed (a pipe without a reader must
// not block the caller either; a hang fails by the test time-out).
TEST_F(LogFile, NameThatIsNoWritableFileDropsTheLine) {
  struct Case {
    const char* what;
    void (*make)();
  };
  const Case cases[] = {
      {"folder", [] { fs::create_directory("TEST_LOG.txt"); }},
      {"dangling link", [] { fs::create_symlink("missing.txt", "TEST_LOG.txt"); }},
      {"pipe", [] { ASSERT_EQ(::mkfifo("TEST_LOG.txt", 0600), 0); }},
  };
  for (const Case& c : cases) {
    c.make();
    WriteEveryEntry();
    EXPECT_EQ(std::vector<fs::path>(fs::directory_iterator(dir_), fs::directory_iterator()),
              std::vector<fs::path>{dir_ / "TEST_LOG.txt"})
        << c.what;
    EXPECT_FALSE(fs::is_regular_file("TEST_LOG.txt")) << c.what;
    if (fs::is_directory(fs::symlink_status("TEST_LOG.txt"))) {
      EXPECT_TRUE(fs::is_empty("TEST_LOG.txt")) << c.what;
    }
    fs::remove("TEST_LOG.txt");
  }
}

TEST_F(LogFile, ReadOnlyFileIsLeftAlone) {
  if (::geteuid() == 0) {
    GTEST_SKIP() << "the superuser may write a read-only file";
  }
  { std::ofstream("TEST_LOG.txt") << "kept\n"; }
  fs::permissions("TEST_LOG.txt", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  WriteEveryEntry();
  EXPECT_EQ(Contents(), "kept\n");
}

}  // namespace
}  // namespace kv
