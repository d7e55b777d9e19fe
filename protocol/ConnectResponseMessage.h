#pragma once
// CONNECTACK: the engine's answer to a CONNECT.
// Fixed part 112 characters: id of the CONNECT answered (text 36), the
// engine's application id (text 36) and name (text 30), language (text 2),
// error code (numeric 4), length n of the variable part (numeric 4). Variable
// part: on success (error code 0) the protocol version (numeric 3) and the
// file port (numeric 5), n = 8; otherwise the error text, n = its length.

#include <memory>
#include <string>

#include "protocol/IntegrationMessage.h"

namespace Corvane {
namespace Client {

class ConnectMessage;

class ConnectResponseMessage : public IntegrationMessage {
 public:
  /// Reading constructor: empty texts, error code 0, version 2, remaining
  /// length 112.
  ConnectResponseMessage();
  /// Success form, the one the engine sends: answers `connect` (copies its
  /// message id) with error code 0, version 2 and the file port.
  ConnectResponseMessage(const ConnectMessage& connect, std::u16string applicationId,
                         std::u16string applicationName, std::u16string language, int filePort);
  /// Error form (error code not 0), as a peer may send it.
  ConnectResponseMessage(std::u16string messageId, std::u16string applicationId,
                         std::u16string applicationName, std::u16string language, int errorCode,
                         std::u16string errorText);

  int GetRemainingLength() const override;
  /// Two calls: the fixed part (112 characters), then, when the announced
  /// length is above 0, the variable part. Throws EngineError -112 when
  /// the message id is blank, the error code is not a number, the length
  /// field is incomplete, or the variable part is not of the announced length.
  void Parse(const std::u16string& chunk) override;
  std::u16string ToString() const override;
  /// The id of the CONNECT being answered.
  std::u16string GetMessageId() const override;
  int GetProtocolVersion() const override;
  bool SupportsProtocolVersion(int version) const override;
  MessageType GetType() const override;

  std::u16string GetClientId() const;
  std::u16string GetClientName() const;
  std::u16string GetLanguage() const;
  int GetErrorCode() const;
  std::u16string GetErrorText() const;
  /// The protocol version announced in a success answer (2 unless read otherwise).
  int GetVersion() const;
  int GetFilePort() const;
  /// Length of the variable part.
  int GetDataLength() const;

 private:
  void ParseFixedPart(const std::u16string& chunk);
  void ParseVariablePart(const std::u16string& chunk);

  std::u16string message_id_;
  std::u16string application_id_;
  std::u16string application_name_;
  std::u16string language_;
  int error_code_;
  std::u16string error_text_;
  int version_;
  int file_port_;
  int data_length_;
  int remaining_length_;
  // Which Parse step comes next; decided by state, never by the fields read.
  bool fixed_part_read_;
};

}  // namespace Client
}  // namespace Corvane
