#pragma once
// The user's language as a two- or three-letter ISO 639 name, as
// GetLocaleInfo(LOCALE_SISO639LANGNAME) gives it on Windows.

#include <string>

namespace Corvane {
namespace Platform {

/// The language of the environment's locale: the first non-empty value of
/// LC_ALL, LC_MESSAGES and LANG decides; its language part (before '_', '.'
/// or '@', lower-cased) is the answer ("de_DE.UTF-8" gives "de"). "en" when
/// none is set, the value is "C" or "POSIX" (with any codeset, such as
/// "C.UTF-8"), or its language part is not made of letters.
/// Thread-safe as long as nobody changes the environment at the same time.
std::wstring UserLanguage();

/// The rule of UserLanguage applied to the given values (null = not set).
std::wstring LanguageOfLocale(const char* lcAll, const char* lcMessages, const char* lang);

}  // namespace Platform
}  // namespace Corvane
