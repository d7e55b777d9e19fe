#include "control/ui/FieldValidator.h"

#include <gtest/gtest.h>

namespace Corvane {
namespace Testing {
namespace {

using Control::FieldValidator;

const int kUntouched = -7;

// The message for text that is refused; the value must stay as it was.
std::string Refusal(const FieldValidator& validator, const std::string& text) {
  int value = kUntouched;
  const std::string message = validator.Check(text, value);
  EXPECT_EQ(value, kUntouched) << "refused text \"" << text << "\" changed the value";
  return message;
}

TEST(FieldValidatorTest, BothEndsOfTheRangeAreAccepted) {
  const FieldValidator port(1, 99999);
  int value = 0;
  EXPECT_EQ(port.Check("1", value), "");
  EXPECT_EQ(value, 1);
  EXPECT_EQ(port.Check("99999", value), "");
  EXPECT_EQ(value, 99999);
}

TEST(FieldValidatorTest, JustOutsideTheRangeIsRefusedWithTheRange) {
  const FieldValidator port(1, 99999);
  EXPECT_EQ(Refusal(port, "0"), "Enter a whole number from 1 to 99999.");
  EXPECT_EQ(Refusal(port, "100000"), "Enter a whole number from 1 to 99999.");
  EXPECT_EQ(Refusal(port, "-1"), "Enter a whole number from 1 to 99999.");
  const FieldValidator interval(1, 600000);
  EXPECT_EQ(Refusal(interval, "600001"), "Enter a whole number from 1 to 600000.");
}

TEST(FieldValidatorTest, BlanksAroundAndAPlusSignAreAccepted) {
  const FieldValidator interval(1, 600000);
  int value = 0;
  EXPECT_EQ(interval.Check("  1500\t", value), "");
  EXPECT_EQ(value, 1500);
  EXPECT_EQ(interval.Check("+20", value), "");
  EXPECT_EQ(value, 20);
}

TEST(FieldValidatorTest, TextThatIsNotAWholeNumberIsRefused) {
  const FieldValidator port(1, 99999);
  for (const char* text : {"", " ", "+", "-", "12abc", "1 2", "1.5", "0x10", "1e3"}) {
    EXPECT_FALSE(Refusal(port, text).empty()) << '"' << text << '"';
  }
}

TEST(FieldValidatorTest, NumbersTooLongForAnyIntegerAreRefusedNotWrapped) {
  const FieldValidator port(1, 99999);
  // 2^32 + 80 would wrap to 80 in a 32-bit integer; 2^64 + 80 overflows 64.
  EXPECT_FALSE(Refusal(port, "4294967376").empty());
  EXPECT_FALSE(Refusal(port, "18446744073709551696").empty());
}

}  // namespace
}  // namespace Testing
}  // namespace Corvane
