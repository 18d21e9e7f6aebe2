// Instance numbering with named mutexes: in one process, and across real
// processes (kv-claim-probe copies), including copies that are killed.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ui/instance_claim.h"
#include "ui/message_texts.h"

namespace {

TEST(NamedMutexClaim, NameIsHeldUntilTheClaimGoes) {
  const std::string name = "kv-claim-test-" + std::to_string(GetCurrentProcessId());
  auto first = kv::ClaimInstanceName(name);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(kv::ClaimInstanceName(name), nullptr);
  first.reset();
  EXPECT_NE(kv::ClaimInstanceName(name), nullptr);
}

// One running probe: its standard input and output are pipes; closing the
// input ends it normally, Kill ends it abnormally.
class Probe {
 public:
  Probe() {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE childIn = nullptr, childOut = nullptr;
    if (!CreatePipe(&childIn, &toChild_, &inherit, 0) || !CreatePipe(&fromChild_, &childOut, &inherit, 0)) {
      return;
    }
    SetHandleInformation(toChild_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(fromChild_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn;
    startup.hStdOutput = childOut;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string command = std::string("\"") + KV_CLAIM_PROBE_EXE + "\"";
    PROCESS_INFORMATION info{};
    if (CreateProcessA(KV_CLAIM_PROBE_EXE, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &info)) {
      process_ = info.hProcess;
      CloseHandle(info.hThread);
    }
    CloseHandle(childIn);
    CloseHandle(childOut);
  }
  ~Probe() {
    Close(toChild_);
    if (process_ != nullptr) {
      if (WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0) TerminateProcess(process_, 1);
      CloseHandle(process_);
    }
    Close(fromChild_);
  }
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;

  // The probe's report line, without its line end ("" if it ended silently).
  std::string Report() {
    std::string line;
    char c;
    DWORD read = 0;
    while (ReadFile(fromChild_, &c, 1, &read, nullptr) && read == 1 && c != '\n') {
      if (c != '\r') line += c;
    }
    return line;
  }

  void Kill() {
    TerminateProcess(process_, 9);
    WaitForSingleObject(process_, 10000);
  }

  // True once the probe has ended by itself (a refused copy does).
  bool EndsWithin(DWORD ms) { return WaitForSingleObject(process_, ms) == WAIT_OBJECT_0; }

 private:
  static void Close(HANDLE& handle) {
    if (handle != nullptr) CloseHandle(handle);
    handle = nullptr;
  }
  HANDLE process_ = nullptr;
  HANDLE toChild_ = nullptr;
  HANDLE fromChild_ = nullptr;
};

std::string Number(int n) { return "number " + std::to_string(n); }

TEST(InstanceNumbering, CopiesTakeTheLowestFreeNumberAndAKilledCopyFreesItsNumber) {
  auto first = std::make_unique<Probe>();
  ASSERT_EQ(first->Report(), Number(1));
  Probe second;
  ASSERT_EQ(second.Report(), Number(2));
  {
    Probe third;
    EXPECT_EQ(third.Report(), Number(3));
  }  // ends normally: 3 is free again
  Probe thirdAgain;
  EXPECT_EQ(thirdAgain.Report(), Number(3));

  first->Kill();
  first.reset();
  Probe next;
  EXPECT_EQ(next.Report(), Number(1));
}

TEST(InstanceNumbering, TwentyOneIsRefusedWithTheLimitInTheText) {
  std::vector<std::unique_ptr<Probe>> running;
  for (int n = 1; n <= kv::MaxInstances; ++n) {
    running.push_back(std::make_unique<Probe>());
    ASSERT_EQ(running.back()->Report(), Number(n));
  }
  Probe refused;
  EXPECT_EQ(refused.Report(), "refused kv-claim-probe|" + kv::InstanceLimitText());
  EXPECT_TRUE(refused.EndsWithin(10000));
  EXPECT_EQ(kv::InstanceLimitText(), "It is forbidden to launch more than 20 instance of this application.");

  // One copy gone, abnormally: its number is the one the next copy gets.
  running[6]->Kill();
  Probe replacement;
  EXPECT_EQ(replacement.Report(), Number(7));
}

}  // namespace
