#pragma once
// Every code the engine reports to its host, through a thrown QuellorException
// or the listener's OnError. All codes are negative. The codes the message
// codec raises (-103, -104, -105, -112, -999) are defined once, with the wire
// format, in protocol/WireFormat.h.

namespace Corvane {
namespace Client {

constexpr int kConnectionFailed = -100;        // accepted connection not started or registered
constexpr int kServiceThreadFailed = -107;     // the service thread failed
constexpr int kNotAcknowledged = -109;         // XML data sent but not acknowledged in time
constexpr int kNoApplications = -110;          // SendData with no application connected
constexpr int kSendFailed = -111;              // SendData delivered to no application
constexpr int kSocketReadError = -113;         // read error on a connection's socket
constexpr int kMissingApplicationId = -114;
constexpr int kMissingApplicationName = -115;
constexpr int kInvalidAckTimeout = -116;
constexpr int kInvalidHealthCheckInterval = -117;
constexpr int kInvalidGroupPort = -119;
constexpr int kInvalidServerPort = -120;
constexpr int kInvalidHailingInterval = -121;
constexpr int kInvalidGroupAddress = -122;
constexpr int kInvalidFilePort = -125;
constexpr int kInvalidFileDirectory = -126;
constexpr int kInvalidXml = -200;

}  // namespace Client
}  // namespace Corvane
