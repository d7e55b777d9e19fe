#pragma once
// HLTHCHK: asks a peer whether it is alive. Body 36 characters: the message id
// (text 36).

#include <memory>
#include <string>

#include "protocol/IntegrationMessage.h"

namespace Corvane {
namespace Client {

class HealthCheckMessage : public IntegrationMessage {
 public:
  /// Used for sending and reading: a fresh id, remaining length 36.
  HealthCheckMessage();

  int GetRemainingLength() const override;
  /// Takes the first 36 characters, trimmed, as the id; no length check.
  void Parse(const std::u16string& chunk) override;
  std::u16string ToString() const override;
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
