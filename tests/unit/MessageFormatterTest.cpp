#include "platform/MessageFormatter.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace Corvane {
namespace Platform {
namespace {

std::wstring Fill(const std::wstring& pattern, const std::vector<std::wstring>& inserts) {
  return MessageFormatter::Format(pattern, inserts);
}

TEST(MessageFormatterTest, NumberedInsertsInAnyOrder) {
  EXPECT_EQ(Fill(L"%2 then %1", {L"a", L"b"}), L"b then a");
  EXPECT_EQ(Fill(L"%1%1", {L"x"}), L"xx");
  std::vector<std::wstring> many;
  for (int i = 1; i <= 11; ++i) many.push_back(std::to_wstring(i * 100));
  EXPECT_EQ(Fill(L"%10|%11|%1", many), L"1000|1100|100");
}

TEST(MessageFormatterTest, ConversionSpecifications) {
  EXPECT_EQ(Fill(L"(%1!d!) %2!s!!!!", {L"42", L"No message"}), L"(42) No message!!!");
  EXPECT_EQ(Fill(L"[%1!5d!][%1!-5d!][%1!05d!]", {L"-42"}), L"[  -42][-42  ][-0042]");
  EXPECT_EQ(Fill(L"[%1!x!][%1!X!][%1!u!]", {L"-1"}), L"[ffffffff][FFFFFFFF][4294967295]");
  EXPECT_EQ(Fill(L"[%1!6s!][%1!-6s!][%1!.2s!][%1!c!]", {L"abc"}), L"[   abc][abc   ][ab][a]");
  EXPECT_EQ(Fill(L"[%1!ls!][%1!ws!][%1!I64d!]", {L"12"}), L"[12][12][12]");
  // An insert that is no number, or a conversion not understood, goes in as it is.
  EXPECT_EQ(Fill(L"%1!d!|%1!f!|%1!*d!", {L"x1"}), L"x1|x1|x1");
}

TEST(MessageFormatterTest, EscapesAndTheEndMark) {
  EXPECT_EQ(Fill(L"100%% %. %! %b", {}), L"100% . ! b");
  EXPECT_EQ(Fill(L"a%nb%rc%td", {}), L"a\r\nb\rc\td");
  EXPECT_EQ(Fill(L"kept%0dropped %1", {L"x"}), L"kept");
  EXPECT_EQ(Fill(L"trailing %", {}), L"trailing %");
}

TEST(MessageFormatterTest, InsertsWithoutValuesStayAsWritten) {
  EXPECT_EQ(Fill(L"%1 and %3!d! and %2!s", {L"a"}), L"a and %3!d! and %2!s");
  // An unclosed format leaves the '!' in the text.
  EXPECT_EQ(Fill(L"%1!s", {L"a"}), L"a!s");
}

TEST(MessageFormatterTest, EngineTableTextLosesLineBreaks) {
  ASSERT_NE(MessageTable::Engine().Find(1), nullptr);
  EXPECT_EQ(*MessageTable::Engine().Find(1), L"%1\r\n");
  EXPECT_EQ(MessageFormatter::MessageText(MessageTable::Engine(), 1, {L"Stop\r\ncompleted\n"}),
            L"Stopcompleted");
  EXPECT_EQ(MessageFormatter::MessageText(MessageTable::Engine(), 1, {}), L"%1");
}

TEST(MessageFormatterTest, UnknownIdGivesTheSystemErrorText) {
  const std::wstring expected = L"!!!MessageId: 4000000000.  (" + std::to_wstring(ENOMSG) + L") " +
                                MessageFormatter::SystemErrorText(ENOMSG) + L"!!!";
  EXPECT_EQ(MessageFormatter::MessageText(MessageTable::Engine(), 4000000000u, {L"x"}), expected);
  EXPECT_EQ(MessageFormatter::SystemErrorText(ENOMSG), L"No message of desired type");
}

}  // namespace
}  // namespace Platform
}  // namespace Corvane
