#include "protocol/BinaryDataMessage.h"

#include <algorithm>

#include "platform/EngineError.h"
#include "platform/TextConversion.h"
#include "protocol/BinaryDataSink.h"
#include "protocol/FieldCodec.h"
#include "protocol/WireFormat.h"

namespace Corvane {
namespace Client {

// The data characters' memory is the file's bytes in order (low half first)
// only on a little-endian machine.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "BINDATA data is taken from the characters' memory as it stands");

using Platform::FromUtf16;

BinaryDataMessage::BinaryDataMessage() : remaining_length_(Wire::kBinaryDataFixedLength) {}

int BinaryDataMessage::GetRemainingLength() const { return remaining_length_; }

void BinaryDataMessage::Parse(const std::u16string& chunk) {
  switch (parse_state_) {
    case kFixedPart:
      ParseFixedPart(chunk);
      break;
    case kFileName:
      ParseFileName(chunk);
      break;
    case kData:
      ParseData(chunk);
      break;
    case kChecksum:
      ParseChecksum(chunk);
      break;
    default:
      break;  // complete: there is nothing more to read
  }
}

void BinaryDataMessage::RequireRemainingLength(const std::u16string& chunk) const {
  if (chunk.size() != static_cast<std::size_t>(remaining_length_)) {
    throw EngineError(L"BINDATA expected " + Wire::ToDecimal(remaining_length_) +
                               L" characters but got " +
                               Wire::ToDecimal(static_cast<long long>(chunk.size())) + L".",
                           Errc::kParse);
  }
}

void BinaryDataMessage::ParseFixedPart(const std::u16string& chunk) {
  RequireRemainingLength(chunk);

  const std::u16string nameField =
      Wire::Field(chunk, Wire::kMessageIdWidth, Wire::kBinaryDataFileNameLengthWidth);
  // The 5-digit field bounds the name, so it is always read whole: the data
  // behind it stays in step even when the name cannot be stored.
  int nameLength = 0;
  if (!Wire::ReadNumber(nameField, nameLength) || nameLength < Wire::kMinFileNameLength) {
    throw EngineError(FromUtf16(nameField) + L" is not a valid file name length.",
                           Errc::kParse);
  }
  const std::u16string dataField =
      Wire::Field(chunk, Wire::kMessageIdWidth + Wire::kBinaryDataFileNameLengthWidth,
                  Wire::kBinaryDataLengthWidth);
  int dataLength = 0;
  if (!Wire::ReadNumber(dataField, dataLength) || dataLength < 0) {
    throw EngineError(FromUtf16(dataField) + L" is not a valid data length.",
                           Errc::kParse);
  }

  message_id_ = Wire::ReadText(chunk, 0, Wire::kMessageIdWidth);
  file_name_length_ = nameLength;
  data_length_ = dataLength;
  odd_length_ = dataLength % 2 != 0;
  remaining_data_ = dataLength / 2 + (odd_length_ ? 1 : 0);
  remaining_length_ = nameLength;
  parse_state_ = kFileName;
}

void BinaryDataMessage::ParseFileName(const std::u16string& chunk) {
  RequireRemainingLength(chunk);
  file_name_ = Wire::Trim(chunk);
  remaining_length_ = std::min(remaining_data_, Wire::kBinaryDataChunkLength);
  parse_state_ = kData;
  if (sink_) sink_->OnFileName(*this);
  if (remaining_data_ == 0) FinishData();  // an empty file: the checksum follows at once
}

void BinaryDataMessage::ParseData(const std::u16string& chunk) {
  RequireRemainingLength(chunk);
  remaining_data_ -= static_cast<int>(chunk.size());
  remaining_length_ = std::min(remaining_data_, Wire::kBinaryDataChunkLength);
  std::size_t bytes = chunk.size() * sizeof(char16_t);
  if (remaining_length_ == 0 && odd_length_) --bytes;  // the padding byte
  if (sink_) sink_->OnFileData(*this, reinterpret_cast<const char*>(chunk.data()), bytes);
  if (remaining_length_ == 0) FinishData();
}

void BinaryDataMessage::FinishData() {
  parse_state_ = kChecksum;
  remaining_length_ = Wire::kBinaryDataChecksumLength;
  if (sink_) sink_->OnFileEnd(*this);
}

void BinaryDataMessage::ParseChecksum(const std::u16string& chunk) {
  RequireRemainingLength(chunk);
  expected_checksum_ = chunk.substr(0, Wire::kBinaryDataChecksumLength);
  remaining_length_ = 0;
  parse_state_ = kComplete;
}

std::u16string BinaryDataMessage::ToString() const {
  throw EngineError(L"Not implemented", Errc::kNotImplemented);
}

std::u16string BinaryDataMessage::GetMessageId() const { return message_id_; }

int BinaryDataMessage::GetProtocolVersion() const { return 2; }

bool BinaryDataMessage::SupportsProtocolVersion(int version) const { return version == 2; }

MessageType BinaryDataMessage::GetType() const { return MessageType::kBinaryData; }

}  // namespace Client
}  // namespace Corvane
