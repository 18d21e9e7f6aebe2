// kv-claim-probe: start-up's instance numbering with the real named-mutex
// claim and nothing else. It reports on standard output
//   "number N"                      once it holds number N, or
//   "refused <caption>|<text>"      when all numbers are taken,
// and, holding its number, waits until its standard input closes.
#include <windows.h>

#include <cstdio>
#include <string>

#include "ui/updator_app.h"

namespace {

class ProbePlatform final : public kv::AppPlatform {
 public:
  void RegisterControls() override {}
  std::unique_ptr<kv::InstanceClaim> ClaimInstance(const std::string& name) override {
    return kv::ClaimInstanceName(name);
  }
  std::string ProgramFilePath() override {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, length < MAX_PATH ? length : 0);
  }
  void ShowRefusal(const char* text, const char* caption) override {
    std::printf("refused %s|%s\n", caption, text);
    std::fflush(stdout);
  }
  void RunDialog(int instanceNumber) override {
    std::printf("number %d\n", instanceNumber);
    std::fflush(stdout);
    char discard[64];
    DWORD read = 0;
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    while (ReadFile(in, discard, sizeof discard, &read, nullptr) && read > 0) {
    }
  }
};

}  // namespace

int main() {
  ProbePlatform platform;
  kv::CTx3UpdatorApp app(platform);
  app.InitInstance();
  return 0;
}
