#pragma once
// CONNECT: the first frame a vendor application sends on a new connection.
// Body 117 characters: message id (text 36), application id (text 36),
// application name (text 30), application address (text 15); frame 137.

#include <memory>
#include <string>

#include "protocol/IntegrationMessage.h"

namespace Corvane {
namespace Client {

class ConnectMessage : public IntegrationMessage {
 public:
  /// Reading constructor: a fresh message id (replaced by Parse), empty other
  /// fields, remaining length 117.
  ConnectMessage();
  /// Sending constructor, as a vendor application builds it: a fresh message id
  /// and the given fields. Values longer than their widths make the frame
  /// longer than 137 characters, which a reader rejects.
  ConnectMessage(std::u16string applicationId, std::u16string applicationName,
                 std::u16string applicationAddress);

  int GetRemainingLength() const override;
  /// Needs exactly 117 characters; otherwise throws EngineError -112
  /// "Connect messages must be 117 char; received <n>".
  void Parse(const std::u16string& chunk) override;
  std::u16string ToString() const override;
  std::u16string GetMessageId() const override;
  int GetProtocolVersion() const override;
  bool SupportsProtocolVersion(int version) const override;
  MessageType GetType() const override;

  std::u16string GetApplicationId() const;
  std::u16string GetApplicationName() const;
  std::u16string GetApplicationAddress() const;

 private:
  std::u16string message_id_;
  std::u16string application_id_;
  std::u16string application_name_;
  std::u16string application_address_;
  int remaining_length_;
};

}  // namespace Client
}  // namespace Corvane
