#pragma once
// A BINACK as a vendor application reads it. The engine never reads one (its
// factory refuses the type); the peer tool and the tests' peers do, through
// the frame parser with CreatePeerMessage as its factory.

#include <memory>
#include <string>

#include "protocol/BinaryDataAckMessage.h"

namespace Corvane {
namespace Client {

class ReceivedBinaryAckMessage : public BinaryDataAckMessage {
 public:
  ReceivedBinaryAckMessage();

  /// 41 (message id, flag, text length), then the text's length, then 0.
  int GetRemainingLength() const override { return remaining_length_; }
  /// Fails with -112 when the flag or the length field holds no number, or
  /// when the frame would not be written back as it came (the flag does not
  /// match the text, a padded field).
  void Parse(const std::u16string& chunk) override;

  /// The flag as received.
  int GetReceivedFlag() const { return flag_; }

 private:
  std::u16string fixed_;
  int flag_ = -1;
  int remaining_length_;
};

/// CreateMessage, and for the header of a BINACK a ReceivedBinaryAckMessage:
/// the factory of a reader on the vendor application's side.
std::shared_ptr<IntegrationMessage> CreatePeerMessage(const std::u16string& header);

}  // namespace Client
}  // namespace Corvane
