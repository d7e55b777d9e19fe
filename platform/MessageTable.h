#pragma once
// Message texts compiled into the module, looked up by identifier, as a
// Windows message-table resource holds them.

#include <cstdint>
#include <map>
#include <string>

namespace Corvane {
namespace Platform {

/// An immutable table of message texts with message-style inserts (see
/// MessageFormatter). Thread-safe (read-only after construction).
class MessageTable {
 public:
  explicit MessageTable(std::map<std::uint32_t, std::wstring> messages);

  /// The engine library's table: one message, id 1, text "%1" CR LF, so that
  /// an event logged with id 1 and one insert shows just that insert.
  static const MessageTable& Engine();

  /// The text of `id`, or null when the table has no such message. The
  /// pointer lives as long as the table.
  const std::wstring* Find(std::uint32_t id) const;

 private:
  const std::map<std::uint32_t, std::wstring> messages_;
};

}  // namespace Platform
}  // namespace Corvane
