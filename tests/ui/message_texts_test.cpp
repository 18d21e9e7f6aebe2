#include "ui/message_texts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace kv {
namespace {

// The operator sees these byte for byte, blanks included.
TEST(MessageTexts, NumberedTableIsExact) {
  const char* const expected[] = {
      "About KV-14 Updater(&A)...", "Time out error(1)", "Time out error(2)", "Time out error(3)",
      "Illegal device connected.", "Please use the firmware update mode.", "Transfer error occurred.",
      "Version update completed.", "In Progress.", "Can't open MIDI In device.", "Error", "KV-14 Updater",
      "Can't open MIDI Out device.", "Erasing Flash memory.", "Data transmit  %d / %d ",
      "Erasing Flash memory 0x%X size %d",
  };
  for (int number = 101; number <= 116; ++number) {
    EXPECT_STREQ(LoadMessageText(number), expected[number - 101]) << number;
  }
  for (int number : {0, 100, 117, -101}) {
    EXPECT_STREQ(LoadMessageText(number), "") << number;
  }
}

TEST(MessageTexts, FixedFormatsAreExact) {
  EXPECT_STREQ(TitleText, "TARVO KV-12 v2.00 Updater");
  EXPECT_STREQ(NumberedTitleFormat, "TARVO KV-12 v2.00 Updater (%d)");
  EXPECT_STREQ(InstanceLimitFormat, "It is forbidden to launch more than %d instance of this application.");
  EXPECT_STREQ(StepStartFormat, "0/%d");
  EXPECT_STREQ(StepFormat, "%d/%d");
  EXPECT_STREQ(NumberedPortNameFormat, "%s (%d)");
}

TEST(MessageTexts, FormattedTexts) {
  char out[64];
  EXPECT_STREQ(FormatTransmitText(out, sizeof out, 0, 12288), "Data transmit  0 / 12288 ");
  EXPECT_STREQ(FormatTransmitText(out, sizeof out, 2910208, 2912256), "Data transmit  2910208 / 2912256 ");
  EXPECT_STREQ(FormatTransmitText(out, sizeof out, -1, 2147483647), "Data transmit  -1 / 2147483647 ");
  EXPECT_STREQ(FormatStepStartText(out, sizeof out, 9), "0/9");
  for (int step = 1; step <= 9; ++step) {
    EXPECT_EQ(std::string(FormatStepText(out, sizeof out, step, 9)), std::to_string(step) + "/9");
  }
  EXPECT_EQ(InstanceTitle(1), "TARVO KV-12 v2.00 Updater");
  EXPECT_EQ(InstanceTitle(2), "TARVO KV-12 v2.00 Updater (2)");
  EXPECT_EQ(InstanceTitle(20), "TARVO KV-12 v2.00 Updater (20)");
  EXPECT_EQ(InstanceLimitText(), "It is forbidden to launch more than 20 instance of this application.");
}

TEST(MessageTexts, SmallBufferStaysTerminated) {
  char out[8];
  std::memset(out, 'x', sizeof out);
  EXPECT_STREQ(FormatTransmitText(out, sizeof out, 0, 12288), "Data tr");
  EXPECT_STREQ(FormatStepText(out, 4, 10, 9), "10/");
  EXPECT_EQ(FormatStepText(nullptr, 0, 1, 9), nullptr);
}

}  // namespace
}  // namespace kv
