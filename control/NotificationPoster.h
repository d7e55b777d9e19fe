#pragma once
// How the engine's notifications cross from its threads to the host's thread:
// the control copies each one and posts it; the poster delivers it later on
// the thread that created the control, or frees it undelivered.

#include <cstdint>
#include <string>

#include "interface/QuellorObserver.h"

namespace Corvane {
namespace Control {

/// One engine notification, owning its copies.
struct Notification {
  enum class Kind {
    kError,
    kMessageReceived,
    kFileReceived,
    kApplicationAdded,
    kApplicationRemoved,
    kFileProgress,
    kConnectionRefused
  };
  Kind kind;
  /// The engine's error number (kError only).
  int number = 0;
  /// The error text, the XML, the file's path; the departure reason
  /// (kApplicationRemoved); the file name (kFileProgress); why the
  /// connection was refused (kConnectionRefused).
  std::wstring text{};
  /// The application concerned (the observer's notifications); only its id
  /// for kFileProgress, only its address for kConnectionRefused.
  Client::ApplicationInfo application{};
  /// kFileProgress only.
  std::int64_t bytesReceived = 0;
  std::int64_t bytesAnnounced = 0;
  /// kConnectionRefused only: refusals since the engine started.
  std::uint64_t refusedSoFar = 0;
};

class NotificationPoster {
 public:
  virtual ~NotificationPoster() = default;
  /// Queues `notification` for the host's thread and returns at once. Called
  /// on engine threads. A notification that cannot be queued is dropped.
  virtual void Post(Notification notification) = 0;
};

}  // namespace Control
}  // namespace Corvane
