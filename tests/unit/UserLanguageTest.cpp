#include "platform/UserLanguage.h"

#include <gtest/gtest.h>

#include <string>

namespace Corvane {
namespace Platform {
namespace {

TEST(UserLanguageTest, LanguagePartOfTheFirstSetVariable) {
  EXPECT_EQ(LanguageOfLocale(nullptr, nullptr, "de_DE.UTF-8"), L"de");
  EXPECT_EQ(LanguageOfLocale("fr_CA", "de_DE", "it_IT"), L"fr");
  EXPECT_EQ(LanguageOfLocale("", "sv_SE@euro", "it_IT"), L"sv");
  EXPECT_EQ(LanguageOfLocale(nullptr, nullptr, "ast.UTF-8"), L"ast");
  EXPECT_EQ(LanguageOfLocale(nullptr, nullptr, "PT_br"), L"pt");
}

TEST(UserLanguageTest, EnglishWithoutARealLocale) {
  EXPECT_EQ(LanguageOfLocale(nullptr, nullptr, nullptr), L"en");
  EXPECT_EQ(LanguageOfLocale("", "", ""), L"en");
  EXPECT_EQ(LanguageOfLocale("C", nullptr, "de_DE"), L"en");
  EXPECT_EQ(LanguageOfLocale(nullptr, "POSIX", nullptr), L"en");
  EXPECT_EQ(LanguageOfLocale(nullptr, nullptr, "C.UTF-8"), L"en");
  EXPECT_EQ(LanguageOfLocale(nullptr, nullptr, "/usr/share/x"), L"en");
}

}  // namespace
}  // namespace Platform
}  // namespace Corvane
