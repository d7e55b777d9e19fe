#include "protocol/ConnectResponseMessage.h"

#include <utility>

#include "platform/EngineError.h"
#include "platform/TextConversion.h"
#include "protocol/ConnectMessage.h"
#include "protocol/FieldCodec.h"
#include "protocol/WireFormat.h"

namespace Corvane {
namespace Client {

namespace {
constexpr int kApplicationIdOffset = Wire::kMessageIdWidth;
constexpr int kApplicationNameOffset = kApplicationIdOffset + Wire::kConnectAckApplicationIdWidth;
constexpr int kLanguageOffset = kApplicationNameOffset + Wire::kConnectAckApplicationNameWidth;
constexpr int kErrorCodeOffset = kLanguageOffset + Wire::kConnectAckLanguageWidth;
constexpr int kDataLengthOffset = kErrorCodeOffset + Wire::kConnectAckErrorCodeWidth;
constexpr int kFilePortOffset = Wire::kConnectAckVersionWidth;
static_assert(kDataLengthOffset + Wire::kConnectAckDataLengthWidth == Wire::kConnectAckFixedLength,
              "CONNECTACK fixed part layout");
}  // namespace

ConnectResponseMessage::ConnectResponseMessage()
    : error_code_(0),
      version_(Wire::kEngineProtocolVersion),
      file_port_(0),
      data_length_(0),
      remaining_length_(Wire::kConnectAckFixedLength),
      fixed_part_read_(false) {}

ConnectResponseMessage::ConnectResponseMessage(const ConnectMessage& connect,
                                               std::u16string applicationId,
                                               std::u16string applicationName,
                                               std::u16string language, int filePort)
    : message_id_(connect.GetMessageId()),
      application_id_(std::move(applicationId)),
      application_name_(std::move(applicationName)),
      language_(std::move(language)),
      error_code_(0),
      version_(Wire::kEngineProtocolVersion),
      file_port_(filePort),
      data_length_(Wire::kConnectAckSuccessDataLength),
      remaining_length_(0),
      fixed_part_read_(true) {}

ConnectResponseMessage::ConnectResponseMessage(std::u16string messageId,
                                               std::u16string applicationId,
                                               std::u16string applicationName,
                                               std::u16string language, int errorCode,
                                               std::u16string errorText)
    : message_id_(std::move(messageId)),
      application_id_(std::move(applicationId)),
      application_name_(std::move(applicationName)),
      language_(std::move(language)),
      error_code_(errorCode),
      error_text_(std::move(errorText)),
      version_(Wire::kEngineProtocolVersion),
      file_port_(0),
      data_length_(static_cast<int>(error_text_.size())),
      remaining_length_(0),
      fixed_part_read_(true) {}

int ConnectResponseMessage::GetRemainingLength() const { return remaining_length_; }

void ConnectResponseMessage::Parse(const std::u16string& chunk) {
  if (!fixed_part_read_) {
    ParseFixedPart(chunk);
  } else if (remaining_length_ > 0) {
    ParseVariablePart(chunk);
  }
}

void ConnectResponseMessage::ParseFixedPart(const std::u16string& chunk) {
  std::u16string messageId = Wire::ReadText(chunk, 0, Wire::kMessageIdWidth);
  if (messageId.empty()) {
    throw EngineError(L"CONNECTACK message id is blank", Errc::kParse);
  }

  int errorCode = 0;
  std::u16string errorCodeField =
      Wire::Field(chunk, kErrorCodeOffset, Wire::kConnectAckErrorCodeWidth);
  if (!Wire::IsFieldComplete(chunk, kErrorCodeOffset, Wire::kConnectAckErrorCodeWidth) ||
      !Wire::ReadNumber(errorCodeField, errorCode)) {
    throw EngineError(Platform::FromUtf16(errorCodeField) + L" is not a valid error code.",
                           Errc::kParse);
  }

  std::u16string lengthField =
      Wire::Field(chunk, kDataLengthOffset, Wire::kConnectAckDataLengthWidth);
  if (!Wire::IsFieldComplete(chunk, kDataLengthOffset, Wire::kConnectAckDataLengthWidth)) {
    throw EngineError(
        L"CONNECTACK data length element was not valid (" + Platform::FromUtf16(lengthField) + L").",
        Errc::kParse);
  }
  // No number leaves the length 0; the field's width bounds it by 9999.
  int dataLength = 0;
  Wire::ReadNumber(lengthField, dataLength);
  if (dataLength < 0) dataLength = 0;

  message_id_ = std::move(messageId);
  application_id_ = Wire::ReadText(chunk, kApplicationIdOffset, Wire::kConnectAckApplicationIdWidth);
  application_name_ =
      Wire::ReadText(chunk, kApplicationNameOffset, Wire::kConnectAckApplicationNameWidth);
  language_ = Wire::ReadText(chunk, kLanguageOffset, Wire::kConnectAckLanguageWidth);
  error_code_ = errorCode;
  data_length_ = dataLength;
  remaining_length_ = dataLength;
  fixed_part_read_ = true;
}

void ConnectResponseMessage::ParseVariablePart(const std::u16string& chunk) {
  // A frame cut short hands over fewer characters than its length announced
  // (a CONNECTACK sent where a CONNECT belongs is read as 137 characters):
  // the fields read what is there, never beyond it.
  if (error_code_ != 0) {
    error_text_ = chunk;
  } else {
    // A field without a number keeps its previous value.
    Wire::ReadNumber(chunk, 0, Wire::kConnectAckVersionWidth, version_);
    Wire::ReadNumber(chunk, kFilePortOffset, Wire::kConnectAckFilePortWidth, file_port_);
  }
  remaining_length_ = 0;
}

std::u16string ConnectResponseMessage::ToString() const {
  std::u16string frame = Wire::FormatHeader(Wire::kPrefixVersion1, Wire::kTypeConnectAck) +
                         Wire::FormatText(message_id_, Wire::kMessageIdWidth) +
                         Wire::FormatText(application_id_, Wire::kConnectAckApplicationIdWidth) +
                         Wire::FormatText(application_name_, Wire::kConnectAckApplicationNameWidth) +
                         Wire::FormatText(language_, Wire::kConnectAckLanguageWidth) +
                         Wire::FormatNumber(error_code_, Wire::kConnectAckErrorCodeWidth);
  if (error_code_ == 0) {
    frame += Wire::FormatNumber(Wire::kConnectAckSuccessDataLength, Wire::kConnectAckDataLengthWidth) +
             Wire::FormatNumber(version_, Wire::kConnectAckVersionWidth) +
             Wire::FormatNumber(file_port_, Wire::kConnectAckFilePortWidth);
  } else {
    frame += Wire::FormatNumber(static_cast<long long>(error_text_.size()),
                                Wire::kConnectAckDataLengthWidth) +
             error_text_;
  }
  return frame;
}

std::u16string ConnectResponseMessage::GetMessageId() const { return message_id_; }

int ConnectResponseMessage::GetProtocolVersion() const { return 1; }

bool ConnectResponseMessage::SupportsProtocolVersion(int version) const { return version == 1; }

MessageType ConnectResponseMessage::GetType() const { return MessageType::kConnectAck; }

std::u16string ConnectResponseMessage::GetClientId() const { return application_id_; }

std::u16string ConnectResponseMessage::GetClientName() const { return application_name_; }

std::u16string ConnectResponseMessage::GetLanguage() const { return language_; }

int ConnectResponseMessage::GetErrorCode() const { return error_code_; }

std::u16string ConnectResponseMessage::GetErrorText() const { return error_text_; }

int ConnectResponseMessage::GetVersion() const { return version_; }

int ConnectResponseMessage::GetFilePort() const { return file_port_; }

int ConnectResponseMessage::GetDataLength() const { return data_length_; }

}  // namespace Client
}  // namespace Corvane
