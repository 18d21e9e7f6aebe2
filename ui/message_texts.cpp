#include "ui/message_texts.h"

#include <cstdio>

namespace kv {

namespace {

constexpr int kFirstText = 101;

// The numbered texts, 101 onwards, exactly as the operator sees them.
constexpr const char* kMessageTexts[] = {
    "About KV-14 Updater(&A)...",             // 101
    "Time out error(1)",                      // 102
    "Time out error(2)",                      // 103
    "Time out error(3)",                      // 104
    "Illegal device connected.",              // 105
    "Please use the firmware update mode.",   // 106
    "Transfer error occurred.",               // 107
    "Version update completed.",              // 108
    "In Progress.",                           // 109
    "Can't open MIDI In device.",             // 110
    "Error",                                  // 111
    "KV-14 Updater",                          // 112
    "Can't open MIDI Out device.",            // 113
    "Erasing Flash memory.",                  // 114
    "Data transmit  %d / %d ",                // 115: two blanks after "transmit", one at the end
    "Erasing Flash memory 0x%X size %d",      // 116
};
constexpr int kTextCount = static_cast<int>(sizeof kMessageTexts / sizeof kMessageTexts[0]);
static_assert(kTextCount == 16);

}  // namespace

const char* const TitleText = "TARVO KV-12 v2.00 Updater";
const char* const NumberedTitleFormat = "TARVO KV-12 v2.00 Updater (%d)";
const char* const InstanceLimitFormat = "It is forbidden to launch more than %d instance of this application.";
const char* const StepStartFormat = "0/%d";
const char* const StepFormat = "%d/%d";
const char* const NumberedPortNameFormat = "%s (%d)";

const char* LoadMessageText(int number) {
  if (number < kFirstText || number >= kFirstText + kTextCount) {
    return "";
  }
  return kMessageTexts[number - kFirstText];
}

char* FormatTransmitText(char* out, std::size_t size, std::int32_t offset, std::int32_t imageSize) {
  if (out != nullptr && size > 0) {
    std::snprintf(out, size, LoadMessageText(115), static_cast<int>(offset), static_cast<int>(imageSize));
  }
  return out;
}

char* FormatStepText(char* out, std::size_t size, int step, int stepCount) {
  if (out != nullptr && size > 0) {
    std::snprintf(out, size, StepFormat, step, stepCount);
  }
  return out;
}

char* FormatStepStartText(char* out, std::size_t size, int stepCount) {
  if (out != nullptr && size > 0) {
    std::snprintf(out, size, StepStartFormat, stepCount);
  }
  return out;
}

std::string InstanceTitle(int instanceNumber) {
  if (instanceNumber == 1) {
    return TitleText;
  }
  char text[64];
  std::snprintf(text, sizeof text, NumberedTitleFormat, instanceNumber);
  return text;
}

std::string InstanceLimitText() {
  char text[96];
  std::snprintf(text, sizeof text, InstanceLimitFormat, MaxInstances);
  return text;
}

}  // namespace kv
