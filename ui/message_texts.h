// Every text the system composes itself: the numbered message texts 101 to
// 116 and the fixed title and format texts. One compiled-in table, used by
// every build and every front end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kv {

// The numbered text, or "" for a number outside 101..116.
const char* LoadMessageText(int number);

extern const char* const TitleText;              // "TARVO KV-12 v2.00 Updater"
extern const char* const NumberedTitleFormat;    // "... (%d)"
extern const char* const InstanceLimitFormat;    // "... more than %d instance ..."
extern const char* const StepStartFormat;        // "0/%d"
extern const char* const StepFormat;             // "%d/%d"
extern const char* const NumberedPortNameFormat; // "%s (%d)"
constexpr int MaxInstances = 20;

// Texts formatted into a caller's buffer (no allocation); each returns `out`.
// Text 115 with offset and image size.
char* FormatTransmitText(char* out, std::size_t size, std::int32_t offset, std::int32_t imageSize);
char* FormatStepText(char* out, std::size_t size, int step, int stepCount);
char* FormatStepStartText(char* out, std::size_t size, int stepCount);

// TitleText for instance 1, NumberedTitleFormat with the number otherwise.
std::string InstanceTitle(int instanceNumber);
std::string InstanceLimitText();

}  // namespace kv
