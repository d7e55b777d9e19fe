#pragma once
// The one place where text changes form: wide text (UTF-32 on POSIX) to and
// from UTF-16 for the wire, and to and from UTF-8 for paths, exception texts
// and log files. Conversions never fail: malformed input becomes U+FFFD.

#include <string>

namespace Corvane {
namespace Platform {

/// Wide text to UTF-8. Unpaired surrogates and out-of-range values become U+FFFD.
std::string ToUtf8(const std::wstring& text);

/// UTF-8 to wide text. Each malformed sequence becomes one U+FFFD.
std::wstring FromUtf8(const std::string& text);

/// Wide text to UTF-16 code units; characters above U+FFFF become surrogate pairs.
std::u16string ToUtf16(const std::wstring& text);

/// UTF-16 code units to wide text; surrogate pairs are joined, an unpaired
/// surrogate becomes U+FFFD.
std::wstring FromUtf16(const std::u16string& text);

/// Whether `text` holds a surrogate that is not part of a pair: such text has
/// no faithful wide or UTF-8 form (FromUtf16 would replace it).
bool HasUnpairedSurrogate(const std::u16string& text);

/// The longest start of `text` that fits in `units` UTF-16 code units; a
/// character that needs a surrogate pair is never split.
std::wstring CutToUtf16Units(const std::wstring& text, std::size_t units);

}  // namespace Platform
}  // namespace Corvane
