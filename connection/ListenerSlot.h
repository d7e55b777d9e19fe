#pragma once

#include <atomic>
#include <exception>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>

#include "interface/Quellor.h"

namespace Corvane {
namespace Client {

/// Holds the host's listener for the engine and every connection it created,
/// so that SetListener and ClearListener reach them all at once.
///
/// Thread-safety: all members may be called from any thread. Clear waits for
/// callbacks running on other threads to return, so once it has returned the
/// host may destroy its listener; called from inside a callback it does not
/// wait (the caller's own callback is still on the stack).
class ListenerSlot {
 public:
  void Set(QuellorListener* listener);
  void Clear();
  bool IsSet() const;

  /// Calls `callback(listener)` when a listener is set; returns whether it did.
  /// Whatever the host's callback throws stays here: it is logged (once per
  /// kind of exception) and the engine goes on.
  template <typename Callback>
  bool Notify(Callback&& callback) const {
    std::shared_lock<std::shared_mutex> lock(mutex_);
    QuellorListener* listener = listener_.load();
    if (!listener) return false;
    InCallback guard;
    try {
      callback(*listener);
    } catch (const std::exception& e) {
      ReportThrown(&e);
    } catch (...) {
      ReportThrown(nullptr);
    }
    return true;
  }

  /// True while the calling thread runs a listener callback (of any slot).
  static bool IsInCallback();

 private:
  // Marks the calling thread as running a listener callback.
  struct InCallback {
    InCallback();
    ~InCallback();
  };
  // Logs what a callback threw, once per kind; `thrown` is null for an
  // exception that is no std::exception.
  void ReportThrown(const std::exception* thrown) const;

  mutable std::shared_mutex mutex_;
  mutable std::mutex reported_mutex_;  // guards reported_
  mutable std::set<std::string> reported_;  // kinds of exception logged
  std::atomic<QuellorListener*> listener_{nullptr};
};

}  // namespace Client
}  // namespace Corvane
