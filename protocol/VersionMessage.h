#pragma once
// VERSION: a vendor application announces the protocol version it speaks.
// Body 43 characters: message id (text 36), version (numeric 3), reserved
// (numeric 4, written 0000). Header prefix "CVNPBDP002".

#include <memory>
#include <string>

#include "protocol/IntegrationMessage.h"

namespace Corvane {
namespace Client {

class VersionMessage : public IntegrationMessage {
 public:
  /// Used for sending and reading: a fresh id, version 2, reserved 0,
  /// remaining length 43.
  VersionMessage();
  /// As above, announcing `version` (a vendor application's side).
  explicit VersionMessage(int version);

  int GetRemainingLength() const override;
  /// Throws EngineError -112 "<three characters> is not a valid version."
  /// when the version field is incomplete or holds no number.
  void Parse(const std::u16string& chunk) override;
  /// Always writes 0000 in the reserved field.
  std::u16string ToString() const override;
  std::u16string GetMessageId() const override;
  int GetProtocolVersion() const override;
  bool SupportsProtocolVersion(int version) const override;
  MessageType GetType() const override;

  /// The protocol version announced.
  int GetVersion() const;
  int GetReserved() const;

 private:
  std::u16string message_id_;
  int version_;
  int reserved_;
  int remaining_length_;
};

}  // namespace Client
}  // namespace Corvane
