#include "protocol/VersionMessage.h"

#include <algorithm>


#include "platform/EngineError.h"
#include "platform/TextConversion.h"
#include "protocol/FieldCodec.h"
#include "protocol/WireFormat.h"

namespace Corvane {
namespace Client {

namespace {
constexpr int kVersionOffset = Wire::kMessageIdWidth;
constexpr int kReservedOffset = kVersionOffset + Wire::kVersionVersionWidth;
}  // namespace

VersionMessage::VersionMessage() : VersionMessage(Wire::kEngineProtocolVersion) {}

VersionMessage::VersionMessage(int version)
    : message_id_(Wire::NewMessageId()),
      version_(version),
      reserved_(0),
      remaining_length_(Wire::kVersionBodyLength) {}

int VersionMessage::GetRemainingLength() const { return remaining_length_; }

void VersionMessage::Parse(const std::u16string& chunk) {
  std::u16string versionField = Wire::Field(chunk, kVersionOffset, Wire::kVersionVersionWidth);
  int version = 0;
  if (!Wire::IsFieldComplete(chunk, kVersionOffset, Wire::kVersionVersionWidth) ||
      !Wire::ReadNumber(versionField, version)) {
    throw EngineError(Platform::FromUtf16(versionField) + L" is not a valid version.",
                           Errc::kParse);
  }
  message_id_ = Wire::ReadText(chunk, 0, Wire::kMessageIdWidth);
  version_ = version;
  // No number leaves the reserved field as it was.
  Wire::ReadNumber(chunk, kReservedOffset, Wire::kVersionReservedWidth, reserved_);
  remaining_length_ = 0;
}

std::u16string VersionMessage::ToString() const {
  return Wire::FormatHeader(Wire::kPrefixVersion2, Wire::kTypeVersion) +
         Wire::FormatText(message_id_, Wire::kMessageIdWidth) +
         Wire::FormatNumber(version_, Wire::kVersionVersionWidth) +
         Wire::FormatNumber(0, Wire::kVersionReservedWidth);
}

std::u16string VersionMessage::GetMessageId() const { return message_id_; }

int VersionMessage::GetProtocolVersion() const { return 2; }

bool VersionMessage::SupportsProtocolVersion(int version) const { return version == 2; }

int VersionMessage::GetVersion() const { return version_; }

int VersionMessage::GetReserved() const { return reserved_; }

MessageType VersionMessage::GetType() const { return MessageType::kVersion; }

}  // namespace Client
}  // namespace Corvane
