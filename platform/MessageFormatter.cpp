#include "platform/MessageFormatter.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/TextConversion.h"

namespace Corvane {
namespace Platform {

namespace {

// Widths and precisions above this are not honoured (the insert is copied
// as it is), which keeps one malformed message from allocating without bound.
constexpr unsigned kMaxFieldWidth = 32000;

// One "!spec!" conversion, split into its parts.
struct Conversion {
  std::wstring flags;
  unsigned width = 0;
  bool hasPrecision = false;
  unsigned precision = 0;
  wchar_t type = L's';
};

bool ReadNumber(const std::wstring& spec, std::size_t& i, unsigned& number) {
  number = 0;
  for (; i < spec.size() && spec[i] >= L'0' && spec[i] <= L'9'; ++i) {
    number = number * 10 + static_cast<unsigned>(spec[i] - L'0');
    if (number > kMaxFieldWidth) return false;
  }
  return true;
}

// False for a format this formatter does not understand.
bool ParseConversion(const std::wstring& spec, Conversion& conversion) {
  std::size_t i = 0;
  while (i < spec.size() && std::wcschr(L"-+ #0", spec[i]) && spec[i] != L'\0') {
    conversion.flags += spec[i++];
  }
  if (!ReadNumber(spec, i, conversion.width)) return false;
  if (i < spec.size() && spec[i] == L'.') {
    ++i;
    conversion.hasPrecision = true;
    if (!ReadNumber(spec, i, conversion.precision)) return false;
  }
  // Length modifiers (h, l, ll, w, I64, ...) change nothing for text inserts.
  while (i < spec.size() && spec[i] != L'\0' && std::wcschr(L"hlLjztwqI", spec[i])) {
    ++i;
    while (i < spec.size() && spec[i - 1] == L'I' && spec[i] >= L'0' && spec[i] <= L'9') ++i;
  }
  if (i + 1 != spec.size()) return false;
  conversion.type = spec[i];
  return true;
}

std::wstring Pad(std::wstring text, const Conversion& conversion) {
  if (text.size() < conversion.width) {
    const std::wstring padding(conversion.width - text.size(), L' ');
    text = conversion.flags.find(L'-') != std::wstring::npos ? text + padding : padding + text;
  }
  return text;
}

bool ParseInteger(const std::wstring& text, long long& value) {
  if (text.empty()) return false;
  const wchar_t* begin = text.c_str();
  wchar_t* end = nullptr;
  errno = 0;
  value = std::wcstoll(begin, &end, 10);
  if (end == begin || errno == ERANGE) return false;
  while (*end == L' ' || *end == L'\t') ++end;
  return *end == L'\0';
}

template <typename Number>
std::wstring PrintNumber(const Conversion& conversion, const wchar_t* length, Number value) {
  std::wstring format = L"%" + conversion.flags;
  if (conversion.width) format += std::to_wstring(conversion.width);
  if (conversion.hasPrecision) format += L"." + std::to_wstring(conversion.precision);
  format += length;
  format += conversion.type;
  std::wstring buffer(conversion.width + conversion.precision + 64, L'\0');
  const int written = std::swprintf(&buffer[0], buffer.size(), format.c_str(), value);
  if (written < 0) return std::wstring();
  buffer.resize(static_cast<std::size_t>(written));
  return buffer;
}

std::wstring Convert(const std::wstring& spec, const std::wstring& insert) {
  Conversion conversion;
  if (!ParseConversion(spec, conversion)) return insert;
  long long number = 0;
  switch (conversion.type) {
    case L's':
    case L'S': {
      std::wstring text = insert;
      if (conversion.hasPrecision && text.size() > conversion.precision) {
        text.resize(conversion.precision);
      }
      return Pad(std::move(text), conversion);
    }
    case L'c':
    case L'C':
      return Pad(insert.substr(0, 1), conversion);
    case L'd':
    case L'i':
      if (!ParseInteger(insert, number)) return insert;
      return PrintNumber(conversion, L"", static_cast<int>(static_cast<std::uint32_t>(number)));
    case L'u':
    case L'x':
    case L'X':
    case L'o':
      if (!ParseInteger(insert, number)) return insert;
      return PrintNumber(conversion, L"", static_cast<unsigned>(number));
    default:
      return insert;
  }
}

void RemoveAll(std::wstring& text, wchar_t c) {
  std::wstring kept;
  kept.reserve(text.size());
  for (wchar_t t : text) {
    if (t != c) kept += t;
  }
  text.swap(kept);
}

// strerror_r comes in a GNU form returning the text and an XSI form filling
// the buffer; these overloads accept either.
[[maybe_unused]] const char* ErrorText(const char* result, const char*) { return result; }
[[maybe_unused]] const char* ErrorText(int result, const char* buffer) {
  return result == 0 ? buffer : "";
}

}  // namespace

std::wstring MessageFormatter::Format(const std::wstring& pattern,
                                      const std::vector<std::wstring>& inserts) {
  std::wstring out;
  out.reserve(pattern.size());
  const std::size_t n = pattern.size();
  std::size_t i = 0;
  while (i < n) {
    const wchar_t c = pattern[i];
    if (c != L'%') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 >= n) {
      out += L'%';
      break;
    }
    const wchar_t next = pattern[i + 1];
    if (next == L'0') return out;
    if (next >= L'1' && next <= L'9') {
      std::size_t j = i + 1;
      std::size_t number = static_cast<std::size_t>(pattern[j++] - L'0');
      if (j < n && pattern[j] >= L'0' && pattern[j] <= L'9') {
        number = number * 10 + static_cast<std::size_t>(pattern[j++] - L'0');
      }
      std::wstring spec = L"s";
      if (j < n && pattern[j] == L'!') {
        const std::size_t close = pattern.find(L'!', j + 1);
        if (close != std::wstring::npos) {
          spec = pattern.substr(j + 1, close - j - 1);
          j = close + 1;
        }
      }
      if (number <= inserts.size()) {
        out += Convert(spec, inserts[number - 1]);
      } else {
        out.append(pattern, i, j - i);
      }
      i = j;
      continue;
    }
    switch (next) {
      case L'n':
        out += L"\r\n";
        break;
      case L'r':
        out += L'\r';
        break;
      case L't':
        out += L'\t';
        break;
      default:
        out += next;
        break;
    }
    i += 2;
  }
  return out;
}

std::wstring MessageFormatter::MessageText(const MessageTable& table, std::uint32_t id,
                                           const std::vector<std::wstring>& inserts) {
  std::wstring text;
  if (const std::wstring* message = table.Find(id)) {
    text = Format(*message, inserts);
  } else {
    const int error = ENOMSG;
    text = L"!!!MessageId: " + std::to_wstring(id) + L".  " +
           Format(L"(%1!d!) %2!s!!!!", {std::to_wstring(error), SystemErrorText(error)});
  }
  RemoveAll(text, L'\n');
  RemoveAll(text, L'\r');
  return text;
}

std::wstring MessageFormatter::SystemErrorText(int error) {
  char buffer[256] = {};
  std::wstring text = FromUtf8(ErrorText(::strerror_r(error, buffer, sizeof buffer), buffer));
  RemoveAll(text, L'\n');
  RemoveAll(text, L'\r');
  return text;
}

}  // namespace Platform
}  // namespace Corvane
