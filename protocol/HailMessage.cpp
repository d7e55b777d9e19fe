#include "protocol/HailMessage.h"

#include <utility>

#include "platform/EngineError.h"
#include "protocol/FieldCodec.h"
#include "protocol/WireFormat.h"

namespace Corvane {
namespace Client {

HailMessage::HailMessage() : port_(0) {}

HailMessage::HailMessage(std::u16string address, int port, std::u16string applicationId)
    : address_(std::move(address)), port_(port), application_id_(std::move(applicationId)) {}

int HailMessage::GetRemainingLength() const { return 0; }

void HailMessage::Parse(const std::u16string& /*chunk*/) {
  throw EngineError(L"Not implemented", Errc::kNotImplemented);
}

std::u16string HailMessage::ToString() const {
  return Wire::FormatHeader(Wire::kPrefixVersion1, Wire::kTypeHail) +
         Wire::FormatText(address_, Wire::kHailAddressWidth) +
         Wire::FormatNumber(port_, Wire::kHailPortWidth) +
         Wire::FormatText(application_id_, Wire::kMessageIdWidth);
}

std::u16string HailMessage::GetMessageId() const { return std::u16string(); }

int HailMessage::GetProtocolVersion() const { return 1; }

bool HailMessage::SupportsProtocolVersion(int version) const { return version == 1; }

MessageType HailMessage::GetType() const { return MessageType::kHail; }

std::u16string HailMessage::GetAddress() const { return address_; }

int HailMessage::GetPort() const { return port_; }

std::u16string HailMessage::GetApplicationId() const { return application_id_; }

}  // namespace Client
}  // namespace Corvane
