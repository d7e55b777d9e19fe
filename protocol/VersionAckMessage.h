#pragma once
// VERSIONACK: answers a VERSION. Body 40 characters: the id of the VERSION
// being answered (text 36) and a status (numeric 4, written 0000). Header
// prefix "CVNPBDP002".

#include <memory>
#include <string>

#include "protocol/IntegrationMessage.h"

namespace Corvane {
namespace Client {

class VersionMessage;

class VersionAckMessage : public IntegrationMessage {
 public:
  /// Reading constructor: a fresh id (replaced by Parse), status 0, remaining
  /// length 40.
  VersionAckMessage();
  /// Sending constructor: answers `version` (copies its id), status 0.
  explicit VersionAckMessage(const VersionMessage& version);

  int GetRemainingLength() const override;
  /// Takes the id (trimmed) and the status; a status without a number stays 0.
  void Parse(const std::u16string& chunk) override;
  /// Always writes 0000 in the status field.
  std::u16string ToString() const override;
  /// The id of the VERSION answered.
  std::u16string GetMessageId() const override;
  int GetProtocolVersion() const override;
  bool SupportsProtocolVersion(int version) const override;
  MessageType GetType() const override;

  int GetStatus() const;

 private:
  std::u16string message_id_;
  int status_;
  int remaining_length_;
};

}  // namespace Client
}  // namespace Corvane
