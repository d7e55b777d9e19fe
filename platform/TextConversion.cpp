#include "platform/TextConversion.h"

#include <type_traits>

namespace Corvane {
namespace Platform {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsSurrogate(char32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }

}  // namespace

std::string ToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t wc : text) {
    auto cp = static_cast<char32_t>(static_cast<std::make_unsigned_t<wchar_t>>(wc));
    if (IsSurrogate(cp) || cp > 0x10FFFF) cp = kReplacement;
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

std::wstring FromUtf8(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    unsigned char lead = *p;
    if (lead < 0x80) {
      out += static_cast<wchar_t>(lead);
      ++p;
      continue;
    }
    int extra;
    char32_t cp;
    char32_t minimum;
    if ((lead & 0xE0) == 0xC0) {
      extra = 1, cp = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, cp = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, cp = lead & 0x07, minimum = 0x10000;
    } else {
      out += static_cast<wchar_t>(kReplacement);
      ++p;
      continue;
    }
    const unsigned char* q = p + 1;
    int taken = 0;
    while (taken < extra && q < end && (*q & 0xC0) == 0x80) {
      cp = (cp << 6) | (*q & 0x3F);
      ++q;
      ++taken;
    }
    if (taken < extra || cp < minimum || cp > 0x10FFFF || IsSurrogate(cp)) {
      cp = kReplacement;
    }
    out += static_cast<wchar_t>(cp);
    p = q;
  }
  return out;
}

std::u16string ToUtf16(const std::wstring& text) {
  // Text in the basic plane (nearly all of it) is one unit per character,
  // written in place; the first character outside it ends this fast run.
  std::u16string out(text.size(), u'\0');
  std::size_t done = 0;
  for (; done < text.size(); ++done) {
    const auto cp = static_cast<char32_t>(text[done]);
    if (cp >= 0xD800 && (cp < 0xE000 || cp > 0xFFFF)) break;
    out[done] = static_cast<char16_t>(cp);
  }
  if (done == text.size()) return out;
  out.resize(done);
  for (std::size_t i = done; i < text.size(); ++i) {
    auto cp = static_cast<char32_t>(text[i]);
    if (IsSurrogate(cp) || cp > 0x10FFFF) cp = kReplacement;
    if (cp < 0x10000) {
      out += static_cast<char16_t>(cp);
    } else {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
  }
  return out;
}

bool HasUnpairedSurrogate(const std::u16string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit < 0xD800 || unit > 0xDFFF) continue;
    if (unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i;  // a pair
      continue;
    }
    return true;
  }
  return false;
}

std::wstring FromUtf16(const std::u16string& text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      out += static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (IsSurrogate(unit)) {
      out += static_cast<wchar_t>(kReplacement);
    } else {
      out += static_cast<wchar_t>(unit);
    }
  }
  return out;
}

std::wstring CutToUtf16Units(const std::wstring& text, std::size_t units) {
  std::size_t used = 0;
  std::size_t count = 0;
  for (wchar_t c : text) {
    const std::size_t width =
        static_cast<unsigned long>(static_cast<std::make_unsigned_t<wchar_t>>(c)) > 0xFFFF ? 2 : 1;
    if (used + width > units) break;
    used += width;
    ++count;
  }
  return text.substr(0, count);
}

}  // namespace Platform
}  // namespace Corvane
