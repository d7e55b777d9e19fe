#pragma once
// HLTHACK: answers an HLTHCHK. Body 41 characters: the id of the HLTHCHK being
// answered (text 36) and the status "OK   " (5 characters).

#include <memory>
#include <string>

#include "protocol/IntegrationMessage.h"

namespace Corvane {
namespace Client {

class HealthCheckMessage;

class HealthCheckAckMessage : public IntegrationMessage {
 public:
  /// Reading constructor: a fresh id (replaced by Parse), remaining length 41.
  HealthCheckAckMessage();
  /// Sending constructor: answers `check` (copies its id).
  explicit HealthCheckAckMessage(const HealthCheckMessage& check);

  int GetRemainingLength() const override;
  /// Takes the first 36 characters, trimmed, as the id; the status characters
  /// are not examined; no length check.
  void Parse(const std::u16string& chunk) override;
  /// Always writes the status "OK   ".
  std::u16string ToString() const override;
  /// The id of the HLTHCHK answered.
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
