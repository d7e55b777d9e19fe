#pragma once
// The codes a connection reports to the host, through a thrown
// QuellorException or the listener's OnError.

namespace Corvane {
namespace Client {

constexpr int kNotAcknowledged = -109;  // XML data sent but not acknowledged in time
constexpr int kSendFailed = -111;       // the XML data could not be written
constexpr int kSocketReadError = -113;  // read error on a connection's socket

}  // namespace Client
}  // namespace Corvane
