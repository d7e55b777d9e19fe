#pragma once
// Message-style formatting as FormatMessage does it: numbered inserts with
// optional printf conversions, and the text of a message-table entry.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/MessageTable.h"

namespace Corvane {
namespace Platform {

/// Stateless; every operation is thread-safe and never throws except
/// std::bad_alloc.
class MessageFormatter {
 public:
  /// Fills `pattern`'s inserts from `inserts` (%1 is inserts[0]):
  /// - "%n" (n = 1-99) gives the insert; "%n!spec!" formats it with the
  ///   printf conversion `spec`: s with flags, width and precision pads or
  ///   cuts the text; d, i, u, x, X, o read the insert as an integer and
  ///   format it (32-bit, as FormatMessage does; a text that is not an
  ///   integer is inserted unchanged); c gives its first character; other
  ///   conversions insert the text unchanged;
  /// - an insert number with no insert behind it stays in the text as written;
  /// - "%0" ends the text; "%%" gives %, "%n" gives CR LF, "%r" CR, "%t" tab;
  ///   % before any other character gives that character; a lone trailing %
  ///   stays.
  static std::wstring Format(const std::wstring& pattern, const std::vector<std::wstring>& inserts);

  /// The text of message `id` of `table` filled with `inserts`, with every LF
  /// and CR removed. When the table has no such message:
  /// "!!!MessageId: <id>.  (<e>) <system text of e>!!!" with e = ENOMSG.
  static std::wstring MessageText(const MessageTable& table, std::uint32_t id,
                                  const std::vector<std::wstring>& inserts);

  /// The system's text for errno value `error` (strerror), CR and LF removed.
  static std::wstring SystemErrorText(int error);
};

}  // namespace Platform
}  // namespace Corvane
