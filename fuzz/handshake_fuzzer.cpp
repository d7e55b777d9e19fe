// The handshake as a peer controls it: arbitrary bytes, paired into
// little-endian characters, are what a peer sends on a new standard
// connection, then its stream ends. Whatever arrives, the handshake ends,
// a CONNECTACK goes out first when it succeeds, it succeeds only for a stream
// that starts with a CONNECT, the engine writes only frames a peer can read,
// and the connection ends cleanly (ConnectionHarness).

#include <cstddef>
#include <cstdint>
#include <memory>

#include "ConnectionHarness.h"
#include "protocol/ConnectMessage.h"

namespace {

// True when the characters start with a frame that reads as a CONNECT.
bool StartsWithConnect(const std::u16string& text) {
  Corvane::Client::FrameParser parser;
  std::size_t offset = 0;
  while (offset < text.size()) {
    std::size_t used = 0;
    auto outcome = parser.Push(text.data() + offset, text.size() - offset, used);
    offset += used;
    using Read = Corvane::Client::FrameParser::Result;
    if (outcome == Read::kHeader) {
      if (parser.Wanted() != 0) continue;
      outcome = parser.Push(nullptr, 0, used);
    }
    if (outcome != Read::kComplete) return false;
    return std::dynamic_pointer_cast<Corvane::Client::ConnectMessage>(parser.TakeMessage()) !=
           nullptr;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CorvaneFuzz::ConnectionHarness harness;
  const std::u16string input = CorvaneFuzz::Characters(data, size);
  const auto result = harness.Run(CorvaneFuzz::ConnectionKind::kStandard, input);
  if (result.handshake_ok && !StartsWithConnect(input)) {
    CorvaneFuzz::Finding("a handshake succeeded on a stream that does not start with a CONNECT");
  }
  return 0;
}
