#include "protocol/VersionAckMessage.h"

#include "protocol/FieldCodec.h"
#include "protocol/VersionMessage.h"
#include "protocol/WireFormat.h"

namespace Corvane {
namespace Client {

namespace {
constexpr int kStatusOffset = Wire::kMessageIdWidth;
}  // namespace

VersionAckMessage::VersionAckMessage()
    : message_id_(Wire::NewMessageId()), status_(0), remaining_length_(Wire::kVersionAckBodyLength) {}

VersionAckMessage::VersionAckMessage(const VersionMessage& version)
    : message_id_(version.GetMessageId()),
      status_(0),
      remaining_length_(Wire::kVersionAckBodyLength) {}

int VersionAckMessage::GetRemainingLength() const { return remaining_length_; }

void VersionAckMessage::Parse(const std::u16string& chunk) {
  message_id_ = Wire::ReadText(chunk, 0, Wire::kMessageIdWidth);
  Wire::ReadNumber(chunk, kStatusOffset, Wire::kVersionAckStatusWidth, status_);
  remaining_length_ = 0;
}

std::u16string VersionAckMessage::ToString() const {
  return Wire::FormatHeader(Wire::kPrefixVersion2, Wire::kTypeVersionAck) +
         Wire::FormatText(message_id_, Wire::kMessageIdWidth) +
         Wire::FormatNumber(0, Wire::kVersionAckStatusWidth);
}

std::u16string VersionAckMessage::GetMessageId() const { return message_id_; }

int VersionAckMessage::GetProtocolVersion() const { return 2; }

bool VersionAckMessage::SupportsProtocolVersion(int version) const { return version == 2; }

MessageType VersionAckMessage::GetType() const { return MessageType::kVersionAck; }

int VersionAckMessage::GetStatus() const { return status_; }

}  // namespace Client
}  // namespace Corvane
