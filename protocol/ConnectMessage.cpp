#include "protocol/ConnectMessage.h"

#include <utility>

#include "platform/EngineError.h"
#include "protocol/FieldCodec.h"
#include "protocol/WireFormat.h"

namespace Corvane {
namespace Client {

namespace {
constexpr int kApplicationIdOffset = Wire::kMessageIdWidth;
constexpr int kApplicationNameOffset = kApplicationIdOffset + Wire::kConnectApplicationIdWidth;
constexpr int kApplicationAddressOffset =
    kApplicationNameOffset + Wire::kConnectApplicationNameWidth;
}  // namespace

ConnectMessage::ConnectMessage()
    : message_id_(Wire::NewMessageId()), remaining_length_(Wire::kConnectBodyLength) {}

ConnectMessage::ConnectMessage(std::u16string applicationId, std::u16string applicationName,
                               std::u16string applicationAddress)
    : message_id_(Wire::NewMessageId()),
      application_id_(std::move(applicationId)),
      application_name_(std::move(applicationName)),
      application_address_(std::move(applicationAddress)),
      remaining_length_(Wire::kConnectBodyLength) {}

int ConnectMessage::GetRemainingLength() const { return remaining_length_; }

void ConnectMessage::Parse(const std::u16string& chunk) {
  if (chunk.size() != static_cast<std::size_t>(Wire::kConnectBodyLength)) {
    throw EngineError(L"Connect messages must be " + Wire::ToDecimal(Wire::kConnectBodyLength) +
                               L" char; received " + Wire::ToDecimal(static_cast<long long>(chunk.size())),
                           Errc::kParse);
  }
  message_id_ = Wire::ReadText(chunk, 0, Wire::kMessageIdWidth);
  application_id_ = Wire::ReadText(chunk, kApplicationIdOffset, Wire::kConnectApplicationIdWidth);
  application_name_ =
      Wire::ReadText(chunk, kApplicationNameOffset, Wire::kConnectApplicationNameWidth);
  application_address_ =
      Wire::ReadText(chunk, kApplicationAddressOffset, Wire::kConnectApplicationAddressWidth);
  remaining_length_ = 0;
}

std::u16string ConnectMessage::ToString() const {
  return Wire::FormatHeader(Wire::kPrefixVersion1, Wire::kTypeConnect) +
         Wire::FormatText(message_id_, Wire::kMessageIdWidth) +
         Wire::FormatText(application_id_, Wire::kConnectApplicationIdWidth) +
         Wire::FormatText(application_name_, Wire::kConnectApplicationNameWidth) +
         Wire::FormatText(application_address_, Wire::kConnectApplicationAddressWidth);
}

std::u16string ConnectMessage::GetMessageId() const { return message_id_; }

int ConnectMessage::GetProtocolVersion() const { return 1; }

bool ConnectMessage::SupportsProtocolVersion(int version) const { return version == 1; }

MessageType ConnectMessage::GetType() const { return MessageType::kConnect; }

std::u16string ConnectMessage::GetApplicationId() const { return application_id_; }

std::u16string ConnectMessage::GetApplicationName() const { return application_name_; }

std::u16string ConnectMessage::GetApplicationAddress() const { return application_address_; }

}  // namespace Client
}  // namespace Corvane
