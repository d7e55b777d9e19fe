#pragma once
// A document refused by the validator: the engine's -200 with its specified
// text, and beside it the first validity errors the parser met, each as
// "line L, column C: <the parser's message>", for logs and for hosts that
// ask what was wrong.

#include <string>
#include <utility>
#include <vector>

#include "platform/EngineError.h"

namespace Corvane {
namespace Client {

class InvalidXmlError : public EngineError {
 public:
  /// How many validity errors are kept.
  static constexpr std::size_t kMaxDetails = 5;

  InvalidXmlError(std::wstring message, std::vector<std::wstring> details)
      : EngineError(std::move(message), Platform::Errc::kInvalidXml), details_(std::move(details)) {}

  /// The first validity errors, in document order; empty when the parser
  /// stopped at a fatal error (its message is then the text itself).
  const std::vector<std::wstring>& Details() const { return details_; }

  /// The text followed by the details, for an outcome's message.
  std::wstring Describe() const {
    std::wstring text = GetMessage();
    for (std::size_t i = 0; i < details_.size(); ++i) text += (i == 0 ? L" (" : L"; ") + details_[i];
    if (!details_.empty()) text += L")";
    return text;
  }

 private:
  std::vector<std::wstring> details_;
};

}  // namespace Client
}  // namespace Corvane
