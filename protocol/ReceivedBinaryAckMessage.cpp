#include "protocol/ReceivedBinaryAckMessage.h"

#include "platform/EngineError.h"
#include "protocol/FieldCodec.h"
#include "protocol/MessageFactory.h"
#include "protocol/WireFormat.h"

namespace Corvane {
namespace Client {

ReceivedBinaryAckMessage::ReceivedBinaryAckMessage()
    : BinaryDataAckMessage(std::u16string(), std::u16string()),
      remaining_length_(Wire::kBinaryAckFixedLength) {}

void ReceivedBinaryAckMessage::Parse(const std::u16string& chunk) {
  if (fixed_.empty()) {
    int length = -1;
    if (chunk.size() != static_cast<std::size_t>(Wire::kBinaryAckFixedLength) ||
        !Wire::ReadNumber(chunk, Wire::kMessageIdWidth, Wire::kBinaryAckSuccessWidth, flag_) ||
        !Wire::ReadNumber(chunk, Wire::kMessageIdWidth + Wire::kBinaryAckSuccessWidth,
                          Wire::kBinaryAckErrorLengthWidth, length) ||
        length < 0) {
      throw EngineError(L"BINACK fixed part is not valid", Errc::kParse);
    }
    fixed_ = chunk;
    remaining_length_ = length;
    if (length > 0) return;
  }
  const std::u16string text = remaining_length_ > 0 ? chunk : std::u16string();
  BinaryDataAckMessage::operator=(
      BinaryDataAckMessage(Wire::ReadText(fixed_, 0, Wire::kMessageIdWidth), text));
  remaining_length_ = 0;
  // The rebuilt frame must be the frame that came: the same id, flag, length
  // and text, padded the same way.
  if (ToString().compare(Wire::kHeaderLength, std::u16string::npos, fixed_ + text) != 0) {
    throw EngineError(L"BINACK does not read back as it came", Errc::kParse);
  }
}

std::shared_ptr<IntegrationMessage> CreatePeerMessage(const std::u16string& header) {
  if (Wire::ReadText(header, Wire::kPrefixLength, Wire::kTypeNameWidth) == Wire::kTypeBinaryAck &&
      header.compare(0, Wire::kPrefixLength, Wire::kPrefixVersion2) == 0) {
    return std::make_shared<ReceivedBinaryAckMessage>();
  }
  return CreateMessage(header);
}

}  // namespace Client
}  // namespace Corvane
