#include "platform/UserLanguage.h"

#include <cstdlib>

namespace Corvane {
namespace Platform {

namespace {

const wchar_t kFallback[] = L"en";

}  // namespace

std::wstring LanguageOfLocale(const char* lcAll, const char* lcMessages, const char* lang) {
  const char* value = nullptr;
  for (const char* candidate : {lcAll, lcMessages, lang}) {
    if (candidate && candidate[0] != '\0') {
      value = candidate;
      break;
    }
  }
  if (!value) return kFallback;

  const std::string locale(value);
  const std::string language = locale.substr(0, locale.find_first_of("_.@"));
  if (language.empty() || language == "C" || language == "POSIX") return kFallback;

  std::wstring result;
  for (char c : language) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c < 'a' || c > 'z') return kFallback;
    result += static_cast<wchar_t>(c);
  }
  return result;
}

std::wstring UserLanguage() {
  return LanguageOfLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
}

}  // namespace Platform
}  // namespace Corvane
