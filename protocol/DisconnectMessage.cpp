#include "protocol/DisconnectMessage.h"


#include "protocol/FieldCodec.h"
#include "protocol/WireFormat.h"

namespace Corvane {
namespace Client {

DisconnectMessage::DisconnectMessage() = default;

int DisconnectMessage::GetRemainingLength() const { return 0; }

void DisconnectMessage::Parse(const std::u16string& /*chunk*/) {}

std::u16string DisconnectMessage::ToString() const {
  return Wire::FormatHeader(Wire::kPrefixVersion1, Wire::kTypeDisconnect);
}

std::u16string DisconnectMessage::GetMessageId() const { return std::u16string(); }

int DisconnectMessage::GetProtocolVersion() const { return 1; }

bool DisconnectMessage::SupportsProtocolVersion(int version) const { return version == 1; }

MessageType DisconnectMessage::GetType() const { return MessageType::kDisconnect; }

}  // namespace Client
}  // namespace Corvane
