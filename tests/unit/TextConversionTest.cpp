#include "platform/TextConversion.h"

#include <gtest/gtest.h>

#include <string>

namespace Corvane {
namespace Platform {
namespace {

// Characters outside the basic plane take two units and end the one-unit run,
// wherever in the text they stand; what cannot be a character becomes U+FFFD.
TEST(TextConversionTest, ToUtf16WritesPairsAndReplacementsWhereverTheyStand) {
  const std::wstring ascii = L"<a>" + std::wstring(1000, L'x') + L"</a>";
  EXPECT_EQ(ToUtf16(ascii), std::u16string(ascii.begin(), ascii.end()));
  EXPECT_EQ(ToUtf16(L""), u"");
  EXPECT_EQ(ToUtf16(L"\u00e9\u20ac\uffff\ue000"), u"\u00e9\u20ac\uffff\ue000");

  const std::wstring astral(1, static_cast<wchar_t>(0x1F600));
  EXPECT_EQ(ToUtf16(astral), u"\U0001F600");
  EXPECT_EQ(ToUtf16(L"ab" + astral + L"cd"), u"ab\U0001F600cd");
  EXPECT_EQ(ToUtf16(L"abcd" + astral), u"abcd\U0001F600");
  EXPECT_EQ(ToUtf16(astral + L"\u00e9" + astral), u"\U0001F600\u00e9\U0001F600");

  const std::wstring bad{L'a', static_cast<wchar_t>(0xD800), L'b', static_cast<wchar_t>(0xDFFF),
                         static_cast<wchar_t>(0x110000), static_cast<wchar_t>(-1), L'c'};
  EXPECT_EQ(ToUtf16(bad), u"a\uFFFDb\uFFFD\uFFFD\uFFFDc");
}

TEST(TextConversionTest, FromUtf16UndoesToUtf16) {
  const std::wstring text =
      L"h\u00e9llo " + std::wstring(1, static_cast<wchar_t>(0x10437)) + L" \u20ac";
  EXPECT_EQ(FromUtf16(ToUtf16(text)), text);
}

}  // namespace
}  // namespace Platform
}  // namespace Corvane
