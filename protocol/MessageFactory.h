#pragma once
// Turns frame text into message objects.
//
// Both functions are thread-safe. Whatever text they are given, they either
// return a message or throw EngineError with one of the codes -103
// (unknown type), -104 (unknown protocol), -105 (unsupported version), -112
// (invalid body) or -999 (unsupported operation); they never read beyond the
// text and never size a buffer by a length read from it.

#include <memory>
#include <string>

#include "protocol/IntegrationMessage.h"

namespace Corvane {
namespace Client {

/// The empty message of the type named in a 20-character header, ready to be
/// completed by Parse calls. Fails with -104 "Unknown message protocol.
/// Received: <header>" when the protocol id is not "CVNPBDP", -103 "Invalid
/// message type provided" for an unknown type name (type names are trimmed
/// and compared case-sensitively), -105 "Unsupported protocol version" when
/// the version in the header is not the type's. A version text without a
/// number counts as version 1.
std::shared_ptr<IntegrationMessage> CreateMessage(const std::u16string& header);

/// Parses one frame held in a string: CreateMessage on its first 20
/// characters, then Parse with each chunk the message asks for. When the text
/// ends early the last chunk is shorter (possibly empty) and the body decides:
/// a body that checks its lengths fails with -112.
std::shared_ptr<IntegrationMessage> ParseMessage(const std::u16string& frame);

}  // namespace Client
}  // namespace Corvane
