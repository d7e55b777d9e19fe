#pragma once
// What the engine tells a host beyond its listener: applications coming and
// going with the reason, each file's progress, the outcome of a send for
// each application, and each link's health. It stands beside the engine
// interface and changes nothing of it: a host reaches these operations
// through their own get_<Method>_method exports (see QuellorExtensionMethods),
// and an engine library without them simply lacks those exports.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "interface/Quellor.h"

namespace Corvane {
namespace Client {

/// Why an application left the engine.
enum class DepartureReason : int {
  /// The application sent DISCONNECT or closed its connection.
  kDisconnected = 0,
  /// The connection failed: reset by the peer, or a read or write error.
  kConnectionLost = 1,
  /// A health check went unanswered within the acknowledgement timeout.
  kHealthCheckUnanswered = 2,
  /// An XMLDATA went unacknowledged within the acknowledgement timeout.
  kAcknowledgementTimeout = 3,
  /// A new connection with the same application id took its place.
  kReplaced = 4,
  /// The engine closed it at a limit (frame size, memory budget, a bad frame).
  kClosedAtLimit = 5,
  /// The engine stopped.
  kEngineStopped = 6,
};

/// The reason as fixed lower-case text ("disconnected", "connection lost",
/// "health check unanswered", "acknowledgement timeout", "replaced",
/// "closed at a limit", "engine stopped"), for logs, tools and bindings.
inline const wchar_t* DepartureReasonText(DepartureReason reason) {
  switch (reason) {
    case DepartureReason::kDisconnected: return L"disconnected";
    case DepartureReason::kConnectionLost: return L"connection lost";
    case DepartureReason::kHealthCheckUnanswered: return L"health check unanswered";
    case DepartureReason::kAcknowledgementTimeout: return L"acknowledgement timeout";
    case DepartureReason::kReplaced: return L"replaced";
    case DepartureReason::kClosedAtLimit: return L"closed at a limit";
    case DepartureReason::kEngineStopped: return L"engine stopped";
  }
  return L"unknown";
}

/// One registered vendor application, as its CONNECT announced it.
struct ApplicationInfo {
  std::wstring id;
  std::wstring name;
  /// IPv4 address as text.
  std::wstring address;
  /// Protocol version the application announced (1 or 2).
  int version = 0;
};

/// How far one file has come on a file connection.
struct FileProgress {
  /// The sending application's id.
  std::wstring applicationId;
  /// The file name as announced in BINDATA.
  std::wstring fileName;
  std::int64_t bytesReceived = 0;
  std::int64_t bytesAnnounced = 0;
  /// True for the last report of the file: stored, or refused.
  bool finished = false;
  /// When finished: whether the file was checked and stored (BINACK flag 1).
  bool stored = false;
  /// When finished: the BINACK text sent to the application.
  std::wstring text;
};

/// The outcome of a send for one application.
struct SendOutcome {
  std::wstring applicationId;
  /// 0 for an acknowledged XMLDATA, else the negative code of the failure.
  int status = 0;
  /// Empty on success, else why (no acknowledgement, write failed,
  /// connection ended, or the document's validity errors).
  std::wstring message;
};

/// The health of one application's link, kept as the engine runs.
struct ApplicationHealth {
  ApplicationInfo application;
  std::chrono::system_clock::time_point connectedSince;
  /// When the last frame of any kind arrived from the application.
  std::chrono::system_clock::time_point lastFrameReceived;
  /// Round trip of the last acknowledged health check; -1 before the first.
  std::chrono::microseconds healthCheckRoundTrip{-1};
  /// Round trip of the last acknowledged XMLDATA; -1 before the first.
  std::chrono::microseconds xmlRoundTrip{-1};
  /// Health checks and XMLDATA whose acknowledgement did not come in time.
  std::uint64_t acknowledgementsMissed = 0;
  std::uint64_t xmlReceived = 0;
  std::uint64_t xmlSent = 0;
  std::uint64_t filesReceived = 0;
  /// Every byte read from the application, standard and file connections.
  std::uint64_t bytesReceived = 0;
};

/// The host's second, optional set of callbacks, set beside its listener.
/// Called on engine threads under the listener's rules: never on the thread
/// of a host call, never while the engine holds up its network I/O for it;
/// what a callback throws stays in the engine. Every callback has an empty
/// default, so a host overrides only what it needs.
class QUELLOR_API QuellorObserver {
 public:
  virtual ~QuellorObserver() = default;
  /// An application completed its handshake and is registered.
  virtual void OnApplicationAdded(const ApplicationInfo& /*application*/) {}
  /// A registered application is gone, with why.
  virtual void OnApplicationRemoved(const ApplicationInfo& /*application*/,
                                    DepartureReason /*reason*/) {}
  /// A file's progress: at most about ten reports a second per file, and
  /// always one with `finished` set at its end.
  virtual void OnFileProgress(const FileProgress& /*progress*/) {}
  /// A connection was refused by the access rules (at most once a minute
  /// per address, like its log line); `refusedSoFar` counts every refusal
  /// since the engine started.
  virtual void OnConnectionRefused(const std::wstring& /*address*/,
                                   const std::wstring& /*reason*/,
                                   std::uint64_t /*refusedSoFar*/) {}
};

/// The engine operations that go with the observer. GetConnector's engine
/// implements them; reach them through the exports below.
namespace QuellorExtensionMethods {
/// Stores a non-owning observer; like SetListener, it must outlive its use.
using SetObserver = void (*)(Quellor*, QuellorObserver*);
/// Forgets the observer, after the callbacks in progress have returned.
using ClearObserver = void (*)(Quellor*);
/// Sends like SendData to every application connected at the call and
/// returns one outcome per application, in the order they registered. It
/// throws where SendData does before anything is sent (no application, a
/// call from inside a callback), except for a document that fails its
/// grammar: that is sent to nobody, and every outcome carries -200 with the
/// first validity errors (line, column, the parser's message).
using SendDataEach = std::vector<SendOutcome> (*)(Quellor*, const std::wstring&);
/// A snapshot of the connected applications with their link health.
using GetApplicationHealth = std::vector<ApplicationHealth> (*)(Quellor*);
}  // namespace QuellorExtensionMethods

/// Export names of the extension operations, for dlsym.
namespace QuellorExtensionExports {
constexpr const char* kSetObserver = "get_SetObserver_method";
constexpr const char* kClearObserver = "get_ClearObserver_method";
constexpr const char* kSendDataEach = "get_SendDataEach_method";
constexpr const char* kGetApplicationHealth = "get_GetApplicationHealth_method";
}  // namespace QuellorExtensionExports

}  // namespace Client
}  // namespace Corvane
