#pragma once
// XMLACK: acknowledges an XMLDATA. Body 36 characters: the id of the XMLDATA
// being acknowledged (text 36).

#include <memory>
#include <string>

#include "protocol/IntegrationMessage.h"

namespace Corvane {
namespace Client {

class XmlDataMessage;

class XmlDataAckMessage : public IntegrationMessage {
 public:
  /// Reading constructor: a fresh id (replaced by Parse), remaining length 36.
  XmlDataAckMessage();
  /// Sending constructor: acknowledges `message` (copies its id).
  explicit XmlDataAckMessage(const XmlDataMessage& message);

  int GetRemainingLength() const override;
  /// Takes the first 36 characters, trimmed, as the id; no length check.
  void Parse(const std::u16string& chunk) override;
  std::u16string ToString() const override;
  /// The id of the XMLDATA acknowledged.
  std::u16string GetMessageId() const override;
  int GetProtocolVersion() const override;
  bool SupportsProtocolVersion(int version) const override;
  MessageType GetType() const override;

 private:
  std::u16string message_id_;
  int remaining_length_;
};

}  // namespace Client
}  // namespace Corvane
