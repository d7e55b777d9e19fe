#include "xml/DtdEntityResolver.h"

#include <type_traits>
#include <utility>

#include <xercesc/framework/LocalFileInputSource.hpp>
#include <xercesc/sax/SAXException.hpp>

#include "platform/TextConversion.h"

namespace Corvane {
namespace Client {

static_assert(std::is_same<XMLCh, char16_t>::value, "Xerces text is expected as UTF-16 char16_t");

namespace {

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

// "scheme:" as in RFC 3986: a letter, then letters, digits, '+', '-', '.'.
bool HasScheme(const std::wstring& text) {
  if (text.empty() || !IsAsciiLetter(text[0])) return false;
  for (std::size_t i = 1; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (c == L':') return true;
    if (!IsAsciiLetter(c) && !(c >= L'0' && c <= L'9') && c != L'+' && c != L'-' && c != L'.') {
      return false;
    }
  }
  return false;
}

bool HasParentSegment(const std::wstring& text) {
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = start;
    while (end < text.size() && !IsSeparator(text[end])) ++end;
    if (text.compare(start, end - start, L"..") == 0) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

DtdEntityResolver::DtdEntityResolver(std::wstring grammarDirectory,
                                     std::function<void(const std::wstring& path)> onResolved)
    : grammar_directory_(std::move(grammarDirectory)), on_resolved_(std::move(onResolved)) {}

bool DtdEntityResolver::IsLocalSystemId(const std::wstring& systemId) {
  return !systemId.empty() && !IsSeparator(systemId[0]) && !HasScheme(systemId) &&
         !HasParentSegment(systemId);
}

xercesc::InputSource* DtdEntityResolver::resolveEntity(const XMLCh* const /*publicId*/,
                                                       const XMLCh* const systemId) {
  const std::wstring id = systemId ? Platform::FromUtf16(systemId) : std::wstring();
  // Refuse by throwing, never by returning null: null would hand the id to
  // the parser's own resolution, which fetches URLs and opens any path.
  if (!IsLocalSystemId(id)) {
    const std::u16string message = Platform::ToUtf16(
        L"Grammar '" + id + L"' refused: only files inside the grammar directory are read");
    throw xercesc::SAXException(message.c_str());
  }
  const std::wstring path = grammar_directory_ + L"/" + id;
  if (on_resolved_) on_resolved_(path);
  return new xercesc::LocalFileInputSource(Platform::ToUtf16(path).c_str());
}

}  // namespace Client
}  // namespace Corvane
