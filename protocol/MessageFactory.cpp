#include "protocol/MessageFactory.h"

#include <cstddef>

#include "platform/EngineError.h"
#include "platform/TextConversion.h"
#include "protocol/BinaryDataMessage.h"
#include "protocol/ConnectMessage.h"
#include "protocol/ConnectResponseMessage.h"
#include "protocol/DisconnectMessage.h"
#include "protocol/FieldCodec.h"
#include "protocol/FrameParser.h"
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
    throw EngineError(L"Unknown message protocol.  Received: " + Platform::FromUtf16(header),
                           Errc::kUnknownProtocol);
  }
  std::shared_ptr<IntegrationMessage> message = NewMessageOfType(typeName);
  if (!message) {
    throw EngineError(L"Invalid message type provided", Errc::kInvalidMessageType);
  }
  if (!message->SupportsProtocolVersion(version)) {
    throw EngineError(L"Unsupported protocol version", Errc::kUnsupportedVersion);
  }
  return message;
}

std::shared_ptr<IntegrationMessage> ParseMessage(const std::u16string& frame) {
  FrameParser parser;
  std::size_t used = 0;
  FrameParser::Result result = parser.Push(frame, used);
  while (result == FrameParser::Result::kHeader) {
    std::size_t more = 0;
    result = parser.Push(frame.data() + used, frame.size() - used, more);
    used += more;
  }
  if (result == FrameParser::Result::kNeedMore) result = parser.Finish();
  if (result == FrameParser::Result::kBad) throw EngineError(parser.ErrorText(), parser.Error());
  return parser.TakeMessage();
}

}  // namespace Client
}  // namespace Corvane
