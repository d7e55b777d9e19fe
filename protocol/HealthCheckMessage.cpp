#include "protocol/HealthCheckMessage.h"


#include "protocol/FieldCodec.h"
#include "protocol/WireFormat.h"

namespace Corvane {
namespace Client {

HealthCheckMessage::HealthCheckMessage()
    : message_id_(Wire::NewMessageId()), remaining_length_(Wire::kHealthCheckBodyLength) {}

int HealthCheckMessage::GetRemainingLength() const { return remaining_length_; }

void HealthCheckMessage::Parse(const std::u16string& chunk) {
  message_id_ = Wire::ReadText(chunk, 0, Wire::kMessageIdWidth);
  remaining_length_ = 0;
}

std::u16string HealthCheckMessage::ToString() const {
  return Wire::FormatHeader(Wire::kPrefixVersion1, Wire::kTypeHealthCheck) +
         Wire::FormatText(message_id_, Wire::kMessageIdWidth);
}

std::u16string HealthCheckMessage::GetMessageId() const { return message_id_; }

int HealthCheckMessage::GetProtocolVersion() const { return 1; }

bool HealthCheckMessage::SupportsProtocolVersion(int version) const { return version == 1; }

MessageType HealthCheckMessage::GetType() const { return MessageType::kHealthCheck; }

}  // namespace Client
}  // namespace Corvane
