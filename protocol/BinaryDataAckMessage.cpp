#include "protocol/BinaryDataAckMessage.h"

#include <utility>

#include "platform/EngineError.h"
#include "protocol/BinaryDataMessage.h"
#include "protocol/FieldCodec.h"
#include "protocol/WireFormat.h"

namespace Corvane {
namespace Client {

namespace {

std::u16string FitErrorText(const std::u16string& text) {
  std::size_t length = text.size();
  if (length <= static_cast<std::size_t>(Wire::kMaxBinaryAckErrorLength)) return text;
  length = Wire::kMaxBinaryAckErrorLength;
  const char16_t last = text[length - 1];
  if (last >= 0xD800 && last <= 0xDBFF) --length;  // keep a pair whole or drop it
  return text.substr(0, length);
}

}  // namespace

BinaryDataAckMessage::BinaryDataAckMessage(const BinaryDataMessage& message,
                                           const std::u16string& errorText)
    : BinaryDataAckMessage(message.GetMessageId(), errorText) {}

BinaryDataAckMessage::BinaryDataAckMessage(std::u16string messageId,
                                           const std::u16string& errorText)
    : message_id_(std::move(messageId)), error_text_(FitErrorText(errorText)) {}

int BinaryDataAckMessage::GetRemainingLength() const { return 0; }

void BinaryDataAckMessage::Parse(const std::u16string& /*chunk*/) {
  throw EngineError(L"Not implemented", Errc::kNotImplemented);
}

std::u16string BinaryDataAckMessage::ToString() const {
  return Wire::FormatHeader(Wire::kPrefixVersion2, Wire::kTypeBinaryAck) +
         Wire::FormatText(message_id_, Wire::kMessageIdWidth) +
         Wire::FormatNumber(GetSuccessFlag(), Wire::kBinaryAckSuccessWidth) +
         Wire::FormatNumber(static_cast<long long>(error_text_.size()),
                            Wire::kBinaryAckErrorLengthWidth) +
         error_text_;
}

std::u16string BinaryDataAckMessage::GetMessageId() const { return message_id_; }

int BinaryDataAckMessage::GetProtocolVersion() const { return 2; }

bool BinaryDataAckMessage::SupportsProtocolVersion(int version) const { return version == 2; }

MessageType BinaryDataAckMessage::GetType() const { return MessageType::kBinaryDataAck; }

}  // namespace Client
}  // namespace Corvane
