#pragma once
// The codes the engine itself reports to its host, through a thrown
// QuellorException or the listener's OnError. All codes are negative. Each
// code is defined once, beside the code that raises it: the message codec's
// (-103, -104, -105, -112, -999) in protocol/WireFormat.h, a connection's
// (-109, -111, -113) in connection/ConnectionErrors.h, the validator's (-200) in
// xml/XmlValidator.h.

namespace Corvane {
namespace Client {

constexpr int kConnectionFailed = -100;        // accepted connection not started or registered
constexpr int kServiceThreadFailed = -107;     // the service thread failed
constexpr int kNoApplications = -110;          // SendData with no application connected
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
constexpr int kCalledOnEngineThread = -130;  // SendData from inside a listener callback
constexpr int kNoModuleDirectory = -131;     // the engine library's directory is unknown
constexpr int kInternalError = -132;         // anything else thrown inside the engine

}  // namespace Client
}  // namespace Corvane
