#include "filestore/FileName.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "platform/TextConversion.h"

namespace Corvane {
namespace File {

namespace {

// Names are shown whole up to this length in error texts.
constexpr std::size_t kShownNameLength = 100;
constexpr std::size_t kMaxIdLength = 64;

bool IsWhiteSpace(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

std::wstring Trim(const std::wstring& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsWhiteSpace(text[begin])) ++begin;
  while (end > begin && IsWhiteSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool IsIdCharacter(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') ||
         c == L'-';
}

bool IsSafeId(const std::wstring& id) {
  if (id.empty() || id.size() > kMaxIdLength) return false;
  for (wchar_t c : id) {
    if (!IsIdCharacter(c)) return false;
  }
  return true;
}

// The name as it may appear in a log line: no control characters, bounded.
std::wstring Printable(const std::wstring& name) {
  std::wstring shown = name.substr(0, kShownNameLength);
  for (wchar_t& c : shown) {
    if (c < L' ' || c == 0x7F) c = L'?';
  }
  if (name.size() > kShownNameLength) shown += L"...";
  return shown;
}

std::atomic<std::uint64_t> next_sequence{1};

}  // namespace

bool IsPlainFileName(const std::wstring& name) {
  if (name.find_first_of(std::wstring(L"/\\\0", 3)) != std::wstring::npos) return false;
  const std::wstring trimmed = Trim(name);
  return !trimmed.empty() && trimmed != L"." && trimmed != L"..";
}

std::wstring CheckFileName(const std::wstring& name) {
  // A received file must also be visible (no leading dot: the file directory
  // keeps its own hidden files) and carry no control characters, which
  // would reach every listing and log that shows the name.
  const bool hasControl = std::any_of(name.begin(), name.end(), [](wchar_t c) {
    return c < L' ' || (c >= 0x7F && c <= 0x9F);
  });
  if (!IsPlainFileName(name) || hasControl || name[0] == L'.') {
    return L"Invalid file name: \"" + Printable(name) + L"\"";
  }
  // Names are stored in UTF-8, and the file system counts their bytes.
  const std::size_t bytes = Platform::ToUtf8(name).size();
  if (bytes > kMaxFileNameBytes) {
    return L"File name is too long: \"" + Printable(name) + L"\" (" + std::to_wstring(bytes) +
           L" bytes; the limit is " + std::to_wstring(kMaxFileNameBytes) + L")";
  }
  return std::wstring();
}

std::wstring TemporaryFileName(const std::wstring& messageId) {
  const std::uint64_t sequence = next_sequence.fetch_add(1, std::memory_order_relaxed);
  const std::wstring base = IsSafeId(messageId) ? messageId : std::wstring(L"message");
  return base + L"." + std::to_wstring(sequence);
}

}  // namespace File
}  // namespace Corvane
