#pragma once
// How the engine's notifications cross from its threads to the host's thread:
// the control copies each one and posts it; the poster delivers it later on
// the thread that created the control, or frees it undelivered.

#include <string>

namespace Corvane {
namespace Control {

/// One engine notification, owning its copy of the text.
struct Notification {
  enum class Kind { kError, kMessageReceived, kFileReceived };
  Kind kind;
  /// The engine's error number (kError only).
  int number = 0;
  std::wstring text;
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
