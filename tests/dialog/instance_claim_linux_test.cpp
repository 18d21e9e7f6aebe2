// The lock-file claim with real processes: twenty copies hold numbers 1 to
// 20, a twenty-first is refused, and a copy killed outright frees its number.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ui/instance_claim.h"
#include "ui/message_texts.h"
#include "ui/updator_app.h"

namespace kv {
namespace {

// The platform a real copy has, minus the window: the dialog "runs" until
// the process is killed, after telling the test its number.
struct ProcessPlatform final : AppPlatform {
  int reportFd = -1;
  bool blockInDialog = true;
  std::string refusalText, refusalCaption;
  int dialogInstance = 0;

  void RegisterControls() override {}
  std::unique_ptr<InstanceClaim> ClaimInstance(const std::string& name) override { return ClaimInstanceName(name); }
  std::string ProgramFilePath() override { return "/usr/bin/kv-updater"; }
  void ShowRefusal(const char* text, const char* caption) override {
    refusalText = text;
    refusalCaption = caption;
    Report(0);
  }
  void RunDialog(int instanceNumber) override {
    dialogInstance = instanceNumber;
    Report(instanceNumber);
    while (blockInDialog) {
      ::pause();
    }
  }
  void Report(int number) {
    if (reportFd >= 0) {
      [[maybe_unused]] const ssize_t n = ::write(reportFd, &number, sizeof number);
    }
  }
};

class TempRuntimeDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kv-claim-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    hadOld_ = old != nullptr;
    if (hadOld_) {
      old_ = old;
    }
    ::setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    for (const pid_t pid : children_) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    if (hadOld_) {
      ::setenv("XDG_RUNTIME_DIR", old_.c_str(), 1);
    } else {
      ::unsetenv("XDG_RUNTIME_DIR");
    }
    RemoveFiles(dir_);
    ::rmdir(dir_.c_str());
  }

  static std::vector<std::string> Files(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
      while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") {
          names.push_back(name);
        }
      }
      ::closedir(d);
    }
    return names;
  }
  static void RemoveFiles(const std::string& dir) {
    for (const std::string& name : Files(dir)) {
      ::unlink((dir + "/" + name).c_str());
    }
  }

  // Starts a copy of the program in a child process; returns the number it
  // claimed (0: refused). A copy that claimed one keeps running.
  int StartCopy(pid_t* pidOut = nullptr) {
    int fds[2];
    if (::pipe(fds) != 0) {
      ADD_FAILURE() << "pipe";
      return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(fds[0]);
      ProcessPlatform platform;
      platform.reportFd = fds[1];
      CTx3UpdatorApp app(platform);
      app.InitInstance();
      ::_exit(0);
    }
    ::close(fds[1]);
    int number = -1;
    const ssize_t n = ::read(fds[0], &number, sizeof number);
    ::close(fds[0]);
    EXPECT_EQ(n, static_cast<ssize_t>(sizeof number));
    if (pid > 0) {
      children_.push_back(pid);
    }
    if (pidOut != nullptr) {
      *pidOut = pid;
    }
    return number;
  }

  std::string dir_;
  std::string old_;
  bool hadOld_ = false;
  std::vector<pid_t> children_;
};

TEST_F(TempRuntimeDir, TwentyCopiesThenRefusalAndAKilledCopyFreesItsNumber) {
  std::vector<pid_t> pids(21);
  for (int n = 1; n <= 20; ++n) {
    ASSERT_EQ(StartCopy(&pids[n]), n);
  }
  EXPECT_EQ(StartCopy(), 0);  // the twenty-first

  // The same in this process, with the refusal's text and caption.
  {
    ProcessPlatform platform;
    platform.blockInDialog = false;
    CTx3UpdatorApp app(platform);
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(app.GetInstanceNumber(), 0);
    EXPECT_EQ(platform.refusalText, InstanceLimitText());
    EXPECT_EQ(platform.refusalCaption, "kv-updater");
  }

  // A copy that is killed outright (no chance to clean up) frees its number,
  // and the next copy takes the lowest free one.
  for (const int victim : {7, 3}) {
    ASSERT_EQ(::kill(pids[victim], SIGKILL), 0);
    ASSERT_EQ(::waitpid(pids[victim], nullptr, 0), pids[victim]);
  }
  ASSERT_EQ(StartCopy(), 3);
  ASSERT_EQ(StartCopy(), 7);
  EXPECT_EQ(StartCopy(), 0);

  // Every lock file is in the runtime directory, one per number, private.
  const std::vector<std::string> files = Files(dir_);
  EXPECT_EQ(files.size(), 20u);
  for (const std::string& name : files) {
    struct stat info {};
    ASSERT_EQ(::lstat((dir_ + "/" + name).c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode)) << name;
    EXPECT_EQ(info.st_mode & 077, 0u) << name;
  }
}

TEST_F(TempRuntimeDir, ClaimIsHeldUntilReleasedAndNamesNeverCollide) {
  auto first = ClaimInstanceName("A/B (1)");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(ClaimInstanceName("A/B (1)"), nullptr);  // a second open file is refused too
  // Names that a careless file-name mapping would fold together.
  auto second = ClaimInstanceName("A_B (1)");
  auto third = ClaimInstanceName("A%2FB (1)");
  EXPECT_NE(second, nullptr);
  EXPECT_NE(third, nullptr);
  first.reset();
  EXPECT_NE(ClaimInstanceName("A/B (1)"), nullptr);
  // '/' never reached the file system as a path separator.
  for (const std::string& name : Files(dir_)) {
    EXPECT_EQ(name.find('/'), std::string::npos);
  }
  EXPECT_EQ(Files(dir_).size(), 3u);
}

TEST_F(TempRuntimeDir, UnsafeRuntimeDirectoryIsNotUsed) {
  // A runtime directory others may write to (or a path that is no directory,
  // or a relative one) is passed over for the private fallback under /tmp.
  const std::string unique = "kv-claim-test " + std::to_string(::getpid());
  ASSERT_EQ(::chmod(dir_.c_str(), 0777), 0);
  char pattern[] = "/tmp/kv-claim-target-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string privateTarget = pattern;
  const std::string symlinkPath = privateTarget + "-link";
  ASSERT_EQ(::symlink(privateTarget.c_str(), symlinkPath.c_str()), 0);
  const std::string plainFile = privateTarget + "/file";
  ::close(::open(plainFile.c_str(), O_CREAT | O_WRONLY, 0600));
  struct Case {
    std::string value;
    std::string mustStayUntouched;
  };
  const Case cases[] = {
      {dir_, dir_},                          // writable by others
      {symlinkPath, privateTarget},          // reached through a symlink
      {plainFile, privateTarget},            // not a directory
      {"relative/dir", privateTarget},       // not an absolute path
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    ::setenv("XDG_RUNTIME_DIR", c.value.c_str(), 1);
    auto claim = ClaimInstanceName(unique);
    ASSERT_NE(claim, nullptr);
    EXPECT_EQ(ClaimInstanceName(unique), nullptr);
    const std::vector<std::string> files = Files(c.mustStayUntouched);
    EXPECT_TRUE(files.empty() || (files.size() == 1 && files[0] == "file"));
  }
  ::unlink(symlinkPath.c_str());
  ::unlink(plainFile.c_str());
  ::rmdir(privateTarget.c_str());
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_NE(ClaimInstanceName(unique), nullptr);
  // The fallback directory is ours and private.
  struct stat info {};
  const std::string fallback = "/tmp/kv-updater-" + std::to_string(::geteuid());
  ASSERT_EQ(::lstat(fallback.c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(info.st_uid, ::geteuid());
  EXPECT_EQ(info.st_mode & 077, 0u);
}

}  // namespace
}  // namespace kv
