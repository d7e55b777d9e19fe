// A whole connection as a peer drives it: a valid CONNECT, then arbitrary
// bytes (paired into little-endian characters), then the end of the stream.
// The input's first byte picks the port: even a standard connection (XML,
// health checks, versions), odd a file connection (BINDATA). So the
// connection's state machine, its file reception and its deadlines meet
// hostile input, not the codec alone; ConnectionHarness checks the outcome.

#include <cstddef>
#include <cstdint>

#include "ConnectionHarness.h"
#include "protocol/ConnectMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CorvaneFuzz::ConnectionHarness harness;
  if (size == 0) return 0;
  const auto kind = data[0] % 2 == 0 ? CorvaneFuzz::ConnectionKind::kStandard
                                     : CorvaneFuzz::ConnectionKind::kFile;
  const std::u16string connect =
      Corvane::Client::ConnectMessage(u"fuzz-peer", u"Fuzz Peer", u"127.0.0.1").ToString();
  const auto result = harness.Run(kind, connect + CorvaneFuzz::Characters(data + 1, size - 1));
  if (!result.handshake_ok) CorvaneFuzz::Finding("a valid CONNECT was refused");
  return 0;
}
