#include "ui/updator_app.h"

#include "ui/message_texts.h"

namespace kv {

std::string InstanceName(int instanceNumber) { return InstanceTitle(instanceNumber); }

std::string ProgramNameFromPath(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string_view::npos && dot > 0) {  // ".name" has no extension
    name = name.substr(0, dot);
  }
  return std::string(name);
}

bool CTx3UpdatorApp::InitInstance() {
  platform_.RegisterControls();

  // The lowest number no running copy holds; a name that cannot be claimed at
  // all counts as held.
  for (int n = 1; n <= MaxInstances; ++n) {
    std::unique_ptr<InstanceClaim> claim = platform_.ClaimInstance(InstanceName(n));
    if (claim) {
      instanceMutex = std::move(claim);
      instanceNumber = n;
      break;
    }
  }
  if (instanceNumber == 0) {
    const std::string text = InstanceLimitText();
    const std::string caption = ProgramNameFromPath(platform_.ProgramFilePath());
    platform_.ShowRefusal(text.c_str(), caption.c_str());
    return false;
  }

  platform_.RunDialog(instanceNumber);
  return false;
}

}  // namespace kv
