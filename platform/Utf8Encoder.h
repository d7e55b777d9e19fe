#pragma once
// Header-only UTF-8 encoding of wide text, kept free of project dependencies so
// that the engine interface header can use it inline.

#include <string>

namespace Corvane {
namespace Platform {

/// Encodes wide text (UTF-32 code points on POSIX) as UTF-8. Values that are
/// not Unicode scalar values (surrogates, above U+10FFFF) become U+FFFD.
inline std::string EncodeUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t wc : text) {
    auto cp = static_cast<unsigned long>(static_cast<std::make_unsigned_t<wchar_t>>(wc));
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
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

}  // namespace Platform
}  // namespace Corvane
