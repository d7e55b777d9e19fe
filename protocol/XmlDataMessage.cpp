#include "protocol/XmlDataMessage.h"


#include <utility>

#include "platform/EngineError.h"
#include "platform/TextConversion.h"
#include "protocol/FieldCodec.h"
#include "protocol/WireFormat.h"

namespace Corvane {
namespace Client {

XmlDataMessage::XmlDataMessage()
    : data_length_(0), remaining_length_(Wire::kXmlDataFixedLength), fixed_part_read_(false) {}

XmlDataMessage::XmlDataMessage(std::u16string xml)
    : message_id_(Wire::NewMessageId()),
      data_length_(static_cast<int>(xml.size())),
      data_(std::move(xml)),
      remaining_length_(Wire::kXmlDataFixedLength),
      fixed_part_read_(false) {}

int XmlDataMessage::GetRemainingLength() const { return remaining_length_; }

void XmlDataMessage::Parse(const std::u16string& chunk) {
  if (!fixed_part_read_) {
    ParseFixedPart(chunk);
  } else if (remaining_length_ > 0) {
    ParseData(chunk);
  }
}

void XmlDataMessage::ParseFixedPart(const std::u16string& chunk) {
  std::u16string messageId = Wire::ReadText(chunk, 0, Wire::kMessageIdWidth);
  if (messageId.empty()) {
    throw EngineError(L"XMLDATA message id is blank", Errc::kParse);
  }

  std::u16string lengthField = Wire::Field(chunk, Wire::kMessageIdWidth, Wire::kXmlDataLengthWidth);
  int dataLength = 0;
  if (!Wire::IsFieldComplete(chunk, Wire::kMessageIdWidth, Wire::kXmlDataLengthWidth) ||
      !Wire::ReadNumber(lengthField, dataLength)) {
    throw EngineError(
        L"XMLDATA data length element was not valid (" + Platform::FromUtf16(lengthField) + L").",
        Errc::kParse);
  }
  // The length comes from the peer: never size anything by it unchecked.
  if (dataLength > Wire::kMaxXmlDataLength) {
    throw EngineError(L"XMLDATA data length " + Wire::ToDecimal(dataLength) +
                               L" exceeds the limit of " + Wire::ToDecimal(Wire::kMaxXmlDataLength) +
                               L" characters.",
                           Errc::kParse);
  }
  if (dataLength < 0) dataLength = 0;

  message_id_ = std::move(messageId);
  data_length_ = dataLength;
  data_.clear();
  remaining_length_ = dataLength;
  fixed_part_read_ = true;
}

void XmlDataMessage::ParseData(const std::u16string& chunk) {
  if (chunk.size() != static_cast<std::size_t>(data_length_)) {
    throw EngineError(L"XMLDATA expected data of " + Wire::ToDecimal(data_length_) +
                               L" but got " + Wire::ToDecimal(static_cast<long long>(chunk.size())) +
                               L".",
                           Errc::kParse);
  }
  data_ = chunk;
  remaining_length_ = 0;
}

std::u16string XmlDataMessage::ToString() const {
  return Wire::FormatHeader(Wire::kPrefixVersion1, Wire::kTypeXmlData) +
         Wire::FormatText(message_id_, Wire::kMessageIdWidth) +
         Wire::FormatNumber(static_cast<long long>(data_.size()), Wire::kXmlDataLengthWidth) + data_;
}

std::u16string XmlDataMessage::GetMessageId() const { return message_id_; }

int XmlDataMessage::GetProtocolVersion() const { return 1; }

bool XmlDataMessage::SupportsProtocolVersion(int version) const { return version == 1; }

std::u16string XmlDataMessage::GetData() const { return data_; }

int XmlDataMessage::GetDataLength() const { return data_length_; }

MessageType XmlDataMessage::GetType() const { return MessageType::kXmlData; }

}  // namespace Client
}  // namespace Corvane
