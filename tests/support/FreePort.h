#pragma once
// Ports for tests that run side by side: each asks the system for one that is
// free at this moment.

namespace Corvane {
namespace Testing {

/// A TCP port on 127.0.0.1 that nothing listens on right now.
int FreeTcpPort();
/// A UDP port that nothing is bound to right now.
int FreeUdpPort();

}  // namespace Testing
}  // namespace Corvane
