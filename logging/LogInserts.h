#pragma once
// Reading message-table inserts from a variable argument list.

#include <cstdarg>
#include <string>
#include <vector>

namespace Corvane {
namespace Logging {

/// Takes `count` const wchar_t* arguments from `inserts` in order (a null
/// pointer reads as an empty string; a negative count as none). The caller
/// still owns and ends `inserts`.
std::vector<std::wstring> TakeInserts(int count, va_list inserts);

}  // namespace Logging
}  // namespace Corvane
