#pragma once
// What one peer, or all of them, may hold of the engine. The host interface
// has no place for these, so they are read from `engine.ini` beside the
// engine library, section [Limits], at every Start; a missing file, key or
// a value below 1 gives the default.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace Corvane {
namespace Client {

struct EngineLimits {
  /// Connections on both ports together, handshaking ones included.
  int maxConnections = 4096;
  /// Connections from one IP address.
  int maxConnectionsPerAddress = 256;
  /// A file connection that starts no transfer for this long is closed.
  std::chrono::milliseconds fileIdleTimeout{120000};
  /// Bytes that may wait behind the frame being written to one peer.
  std::size_t maxQueuedBytes = 4u * 1024 * 1024;
  /// A file is refused when receiving it would leave less than this free.
  std::uint64_t minFreeBytes = 64u * 1024 * 1024;
  /// Memory all connections together may hold for frame bodies being read.
  std::uint64_t maxBodyBytes = 512u * 1024 * 1024;
  /// How long a peer that refused a connection is not logged again.
  std::chrono::milliseconds refusalLogInterval{60000};

  /// The limits in `moduleDirectory` + "/engine.ini".
  static EngineLimits Read(const std::wstring& moduleDirectory);
};

}  // namespace Client
}  // namespace Corvane
