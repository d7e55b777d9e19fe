#pragma once
// Posts notifications to a GLib main context: each one becomes an idle source
// attached to the context, carrying its copy, which runs on whatever thread
// iterates that context. Posting never runs the delivery on the caller's
// thread, whether or not the context is being iterated.

#include <glib.h>

#include <functional>
#include <memory>

#include "control/NotificationPoster.h"

namespace Corvane {
namespace Control {

/// Thread-safety: Post may be called from any thread at once. Construction
/// and destruction happen on the thread that owns the control.
class MainContextPoster : public NotificationPoster {
 public:
  /// Called on the context's thread for each notification while the poster
  /// lives.
  using Deliver = std::function<void(const Notification&)>;

  /// Posts to `context` (a reference is taken).
  MainContextPoster(GMainContext* context, Deliver deliver);
  /// Removes every notification not yet delivered and frees it; none is
  /// delivered afterwards, even by a context iterated on another thread.
  ~MainContextPoster() override;
  MainContextPoster(const MainContextPoster&) = delete;
  MainContextPoster& operator=(const MainContextPoster&) = delete;

  void Post(Notification notification) override;

  /// Notifications posted and neither delivered nor freed yet.
  std::size_t GetPendingCount() const;

 private:
  struct Shared;
  struct Posted;
  static gboolean Dispatch(gpointer data);
  static void Free(gpointer data);

  std::shared_ptr<Shared> shared_;
};

}  // namespace Control
}  // namespace Corvane
