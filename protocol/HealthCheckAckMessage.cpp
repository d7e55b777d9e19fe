#include "protocol/HealthCheckAckMessage.h"


#include "protocol/FieldCodec.h"
#include "protocol/HealthCheckMessage.h"
#include "protocol/WireFormat.h"

namespace Corvane {
namespace Client {

HealthCheckAckMessage::HealthCheckAckMessage()
    : message_id_(Wire::NewMessageId()), remaining_length_(Wire::kHealthCheckAckBodyLength) {}

HealthCheckAckMessage::HealthCheckAckMessage(const HealthCheckMessage& check)
    : message_id_(check.GetMessageId()), remaining_length_(Wire::kHealthCheckAckBodyLength) {}

int HealthCheckAckMessage::GetRemainingLength() const { return remaining_length_; }

void HealthCheckAckMessage::Parse(const std::u16string& chunk) {
  message_id_ = Wire::ReadText(chunk, 0, Wire::kMessageIdWidth);
  remaining_length_ = 0;
}

std::u16string HealthCheckAckMessage::ToString() const {
  return Wire::FormatHeader(Wire::kPrefixVersion1, Wire::kTypeHealthCheckAck) +
         Wire::FormatText(message_id_, Wire::kMessageIdWidth) + Wire::kHealthCheckAckStatus;
}

std::u16string HealthCheckAckMessage::GetMessageId() const { return message_id_; }

int HealthCheckAckMessage::GetProtocolVersion() const { return 1; }

bool HealthCheckAckMessage::SupportsProtocolVersion(int version) const { return version == 1; }

MessageType HealthCheckAckMessage::GetType() const { return MessageType::kHealthCheckAck; }

}  // namespace Client
}  // namespace Corvane
