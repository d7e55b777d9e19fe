#include "protocol/MessageFactory.h"

#include <cstddef>

#include "interface/Quellor.h"
#include "platform/TextConversion.h"
#include "protocol/BinaryDataMessage.h"
#include "protocol/ConnectMessage.h"
#include "protocol/ConnectResponseMessage.h"
#include "protocol/DisconnectMessage.h"
#include "protocol/FieldCodec.h"
#include "protocol/HailMessage.h"
#include "protocol/HealthCheckAckMessage.h"
#include "protocol/HealthCheckMessage.h"
#include "protocol/VersionAckMessage.h"
#include "protocol/VersionMessage.h"
#include "protocol/WireFormat.h"
#include "protocol/XmlDataAckMessage.h"
#include "protocol/XmlDataMessage.h"

namespace Corvane {
namespace Client {

namespace {

std::shared_ptr<IntegrationMessage> NewMessageOfType(const std::u16string& typeName) {
  if (typeName == Wire::kTypeConnect) return std::make_shared<ConnectMessage>();
  if (typeName == Wire::kTypeConnectAck) return std::make_shared<ConnectResponseMessage>();
  if (typeName == Wire::kTypeDisconnect) return std::make_shared<DisconnectMessage>();
  if (typeName == Wire::kTypeHail) return std::make_shared<HailMessage>();
  if (typeName == Wire::kTypeXmlData) return std::make_shared<XmlDataMessage>();
  if (typeName == Wire::kTypeXmlAck) return std::make_shared<XmlDataAckMessage>();
  if (typeName == Wire::kTypeHealthCheck) return std::make_shared<HealthCheckMessage>();
  if (typeName == Wire::kTypeHealthCheckAck) return std::make_shared<HealthCheckAckMessage>();
  if (typeName == Wire::kTypeVersion) return std::make_shared<VersionMessage>();
  if (typeName == Wire::kTypeVersionAck) return std::make_shared<VersionAckMessage>();
  if (typeName == Wire::kTypeBinaryData) return std::make_shared<BinaryDataMessage>();
  // BINACK is only ever written by the engine, never accepted.
  return nullptr;
}

}  // namespace

std::shared_ptr<IntegrationMessage> CreateMessage(const std::u16string& header) {
  const std::u16string protocolId = Wire::Field(header, 0, Wire::kProtocolIdLength);
  const std::u16string typeName =
      Wire::ReadText(header, Wire::kPrefixLength, Wire::kTypeNameWidth);
  int version = 1;
  Wire::ReadNumber(header, Wire::kProtocolIdLength, Wire::kVersionTextLength, version);

  if (protocolId != Wire::kProtocolId) {
    throw QuellorException(L"Unknown message protocol.  Received: " + Platform::FromUtf16(header),
                           Wire::kErrorUnknownProtocol);
  }
  std::shared_ptr<IntegrationMessage> message = NewMessageOfType(typeName);
  if (!message) {
    throw QuellorException(L"Invalid message type provided", Wire::kErrorInvalidMessageType);
  }
  if (!message->SupportsProtocolVersion(version)) {
    throw QuellorException(L"Unsupported protocol version", Wire::kErrorUnsupportedVersion);
  }
  return message;
}

std::shared_ptr<IntegrationMessage> ParseMessage(const std::u16string& frame) {
  std::shared_ptr<IntegrationMessage> message =
      CreateMessage(Wire::Field(frame, 0, Wire::kHeaderLength));
  std::size_t position = Wire::kHeaderLength;
  for (int remaining = message->GetRemainingLength(); remaining > 0;
       remaining = message->GetRemainingLength()) {
    const std::size_t start = position < frame.size() ? position : frame.size();
    const std::u16string chunk = frame.substr(start, static_cast<std::size_t>(remaining));
    message->Parse(chunk);
    position += static_cast<std::size_t>(remaining);
    // A body that accepted a short chunk has had the rest of the text; asking
    // for more would only hand it empty chunks.
    if (chunk.size() < static_cast<std::size_t>(remaining) && message->GetRemainingLength() > 0) {
      throw QuellorException(L"The frame ended before the message was complete",
                             Wire::kErrorParse);
    }
  }
  return message;
}

}  // namespace Client
}  // namespace Corvane
