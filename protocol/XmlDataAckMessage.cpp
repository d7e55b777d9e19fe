#include "protocol/XmlDataAckMessage.h"


#include "protocol/FieldCodec.h"
#include "protocol/WireFormat.h"
#include "protocol/XmlDataMessage.h"

namespace Corvane {
namespace Client {

XmlDataAckMessage::XmlDataAckMessage()
    : message_id_(Wire::NewMessageId()), remaining_length_(Wire::kXmlAckBodyLength) {}

XmlDataAckMessage::XmlDataAckMessage(const XmlDataMessage& message)
    : message_id_(message.GetMessageId()), remaining_length_(Wire::kXmlAckBodyLength) {}

int XmlDataAckMessage::GetRemainingLength() const { return remaining_length_; }

void XmlDataAckMessage::Parse(const std::u16string& chunk) {
  message_id_ = Wire::ReadText(chunk, 0, Wire::kMessageIdWidth);
  remaining_length_ = 0;
}

std::u16string XmlDataAckMessage::ToString() const {
  return Wire::FormatHeader(Wire::kPrefixVersion1, Wire::kTypeXmlAck) +
         Wire::FormatText(message_id_, Wire::kMessageIdWidth);
}

std::u16string XmlDataAckMessage::GetMessageId() const { return message_id_; }

int XmlDataAckMessage::GetProtocolVersion() const { return 1; }

bool XmlDataAckMessage::SupportsProtocolVersion(int version) const { return version == 1; }

MessageType XmlDataAckMessage::GetType() const { return MessageType::kXmlDataAck; }

}  // namespace Client
}  // namespace Corvane
