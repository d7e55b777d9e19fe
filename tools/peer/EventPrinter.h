#pragma once
// What the simulator prints: one readable line per event, or with --json one
// JSON object per line for scripts; with --trace also every frame sent and
// received, its raw header and its fields. Safe from several threads.

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace Corvane {
namespace Peer {

class EventPrinter {
 public:
  using Fields = std::vector<std::pair<std::string, std::string>>;

  EventPrinter(bool json, bool trace) : json_(json), trace_(trace) {}

  /// One event: `kind` ("connected", "xml", "binack", ...) and its fields.
  void Event(const std::string& kind, const Fields& fields);
  /// A frame that went out (`sent`) or came in, when tracing.
  void Frame(bool sent, const std::u16string& raw);
  /// A line on standard error, whatever the mode.
  void Error(const std::string& text);

  bool Json() const { return json_; }

 private:
  static std::string Quote(const std::string& text);

  const bool json_;
  const bool trace_;
  std::mutex mutex_;
};

}  // namespace Peer
}  // namespace Corvane
