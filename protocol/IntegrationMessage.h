#pragma once
// The abstract wire message. Every message type derives from it directly.
//
// Reading model: a reader builds an empty message from a 20-character header
// (CreateMessage), then, while GetRemainingLength() is above 0, reads exactly
// that many characters and hands them to Parse. Messages with a variable part
// take two Parse calls: the fixed part announces the length of the variable
// part. A message whose remaining length is 0 is complete.
//
// The classes are a codec and nothing more: what a message means to the
// engine is decided by whoever reads it. An object is used by one thread at a
// time.

#include <string>

#include "protocol/MessageType.h"

namespace Corvane {
namespace Client {

class IntegrationMessage {
 public:
  virtual ~IntegrationMessage();

  /// Characters the reader must still deliver; 0 when the message is complete.
  virtual int GetRemainingLength() const = 0;

  /// Consumes the characters announced by GetRemainingLength and updates it.
  /// Throws EngineError (-112, or -999 where reading is not supported)
  /// on an invalid body; the message must then be dropped. A chunk shorter
  /// than announced is never read beyond its end.
  virtual void Parse(const std::u16string& chunk) = 0;

  /// The whole frame, header included, ready to send.
  virtual std::u16string ToString() const = 0;

  /// The 36-character message id; empty for HAIL and DISCONNECT.
  virtual std::u16string GetMessageId() const = 0;

  /// The protocol version of the message type (1 or 2).
  virtual int GetProtocolVersion() const = 0;

  /// True exactly when `version` equals GetProtocolVersion().
  virtual bool SupportsProtocolVersion(int version) const = 0;

  /// Which message this is, for a reader that acts on it.
  virtual MessageType GetType() const = 0;

 protected:
  IntegrationMessage() = default;
  IntegrationMessage(const IntegrationMessage&) = default;
  IntegrationMessage& operator=(const IntegrationMessage&) = default;
};

}  // namespace Client
}  // namespace Corvane
