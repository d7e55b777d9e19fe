#pragma once
// BINACK: the engine's answer to a BINDATA (written, never read).
// Body: the BINDATA's message id (text 36), success flag (numeric 1: 1 when the
// error text is empty, else 0), error text length m (numeric 4), then the m
// characters of the error text.

#include <memory>
#include <string>

#include "protocol/IntegrationMessage.h"

namespace Corvane {
namespace Client {

class BinaryDataMessage;

class BinaryDataAckMessage : public IntegrationMessage {
 public:
  /// Answers `message` (copies its id) with `errorText`: empty for success.
  BinaryDataAckMessage(const BinaryDataMessage& message, const std::u16string& errorText);
  /// Answers the BINDATA with id `messageId`. An error text longer than the
  /// length field can announce (Wire::kMaxBinaryAckErrorLength characters) is
  /// cut to fit, never within a surrogate pair, so the frame stays readable.
  BinaryDataAckMessage(std::u16string messageId, const std::u16string& errorText);

  /// Always 0: the engine never reads a BINACK.
  int GetRemainingLength() const override;
  /// Throws EngineError "Not implemented", -999.
  void Parse(const std::u16string& chunk) override;
  /// 61 characters plus the error text's length.
  std::u16string ToString() const override;
  std::u16string GetMessageId() const override;
  int GetProtocolVersion() const override;
  bool SupportsProtocolVersion(int version) const override;
  MessageType GetType() const override;

  /// 1 when the error text is empty, else 0.
  int GetSuccessFlag() const { return error_text_.empty() ? 1 : 0; }
  const std::u16string& GetErrorText() const { return error_text_; }

 private:
  std::u16string message_id_;
  std::u16string error_text_;
};

}  // namespace Client
}  // namespace Corvane
