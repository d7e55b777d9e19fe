#pragma once
// What the simulator prints: one readable line per event, or with --json one
// JSON object per line for scripts; with --trace also every frame sent and
// received, its raw header and its fields. Safe from several threads.

#include <mutex>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace Corvane {
namespace Peer {

class EventPrinter {
 public:
  /// One field's value: text, or a number or truth value that --json writes
  /// as a JSON number or boolean. Readable lines show each as it reads.
  class Value {
   public:
    Value(std::string text) : text_(std::move(text)) {}  // NOLINT: implicit on purpose
    Value(const char* text) : text_(text) {}             // NOLINT
    template <typename Number, std::enable_if_t<std::is_integral_v<Number> &&
                                                    !std::is_same_v<Number, bool>, int> = 0>
    Value(Number number) : text_(std::to_string(number)), literal_(true) {}  // NOLINT
    Value(bool truth) : text_(truth ? "true" : "false"), literal_(true) {}   // NOLINT

    const std::string& Text() const { return text_; }
    /// True when JSON writes it without quotes.
    bool Literal() const { return literal_; }

   private:
    std::string text_;
    bool literal_ = false;
  };
  /// Field names are snake_case in both output modes.
  using Fields = std::vector<std::pair<std::string, Value>>;

  EventPrinter(bool json, bool trace) : json_(json), trace_(trace) {}

  /// One event: `kind` ("connected", "xml_sent", "binack", ...) and its fields.
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
