#pragma once

#include <atomic>
#include <exception>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>
#include <utility>

#include "interface/Quellor.h"
#include "interface/QuellorObserver.h"

namespace Corvane {
namespace Client {

/// Holds the host's listener and its optional observer for the engine and
/// every connection it created, so that setting or clearing either reaches
/// them all at once.
///
/// Thread-safety: all members may be called from any thread. Clear and
/// ClearObserver wait for callbacks running on other threads to return, so
/// once they have returned the host may destroy what it set; called from
/// inside a callback they do not wait (the caller's own callback is still on
/// the stack).
class ListenerSlot {
 public:
  void Set(QuellorListener* listener);
  void Clear();
  bool IsSet() const;
  void SetObserver(QuellorObserver* observer);
  void ClearObserver();
  bool HasObserver() const { return observer_.load() != nullptr; }

  /// Calls `callback(listener)` when a listener is set; returns whether it did.
  /// Whatever the host's callback throws stays here: it is logged (once per
  /// kind of exception) and the engine goes on.
  template <typename Callback>
  bool Notify(Callback&& callback) const {
    return Call(listener_, std::forward<Callback>(callback));
  }
  /// Calls `callback(observer)` when an observer is set, as Notify does.
  template <typename Callback>
  bool NotifyObserver(Callback&& callback) const {
    return Call(observer_, std::forward<Callback>(callback));
  }

  /// True while the calling thread runs a listener callback (of any slot).
  static bool IsInCallback();

 private:
  template <typename Target, typename Callback>
  bool Call(const std::atomic<Target*>& slot, Callback&& callback) const {
    std::shared_lock<std::shared_mutex> lock(mutex_);
    Target* target = slot.load();
    if (!target) return false;
    InCallback guard;
    try {
      callback(*target);
    } catch (const std::exception& e) {
      ReportThrown(&e);
    } catch (...) {
      ReportThrown(nullptr);
    }
    return true;
  }
  // Stores `value` in `slot`, after the callbacks in progress have returned.
  template <typename Target>
  void Store(std::atomic<Target*>& slot, Target* value);

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
  std::atomic<QuellorObserver*> observer_{nullptr};
};

}  // namespace Client
}  // namespace Corvane
