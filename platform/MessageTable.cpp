#include "platform/MessageTable.h"

#include <utility>

namespace Corvane {
namespace Platform {

MessageTable::MessageTable(std::map<std::uint32_t, std::wstring> messages)
    : messages_(std::move(messages)) {}

const MessageTable& MessageTable::Engine() {
  static const MessageTable table({{1u, L"%1\r\n"}});
  return table;
}

const std::wstring* MessageTable::Find(std::uint32_t id) const {
  const auto found = messages_.find(id);
  return found == messages_.end() ? nullptr : &found->second;
}

}  // namespace Platform
}  // namespace Corvane
