#include "logging/LogInserts.h"

namespace Corvane {
namespace Logging {

std::vector<std::wstring> TakeInserts(int count, va_list inserts) {
  std::vector<std::wstring> strings;
  if (count <= 0) return strings;
  strings.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const wchar_t* insert = va_arg(inserts, const wchar_t*);
    strings.emplace_back(insert ? insert : L"");
  }
  return strings;
}

}  // namespace Logging
}  // namespace Corvane
