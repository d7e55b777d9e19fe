#include "control/MainContextPoster.h"

#include <mutex>
#include <unordered_set>
#include <utility>

#include "platform/HandOff.h"

namespace Corvane {
namespace Control {

// What the poster and its posted sources share. The sources keep it alive, so
// a source that runs after the poster is gone finds it closed.
struct MainContextPoster::Shared {
  GMainContext* context;
  Deliver deliver;
  std::mutex mutex;
  bool closed = false;
  // Sources attached and not yet run; each holds a reference of ours.
  std::unordered_set<GSource*> pending;
  // Serialises delivery with the poster's destruction on another thread.
  std::recursive_mutex delivering;
};

struct MainContextPoster::Posted {
  std::shared_ptr<Shared> shared;
  GSource* source = nullptr;
  Notification notification;
};

MainContextPoster::MainContextPoster(GMainContext* context, Deliver deliver)
    : shared_(std::make_shared<Shared>()) {
  shared_->context = g_main_context_ref(context);
  shared_->deliver = std::move(deliver);
}

MainContextPoster::~MainContextPoster() {
  std::unordered_set<GSource*> pending;
  {
    // Waits for a delivery running on another thread; a delivery on this
    // thread (the poster destroyed from inside a signal handler) holds the
    // recursive lock already.
    std::lock_guard<std::recursive_mutex> delivering(shared_->delivering);
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->closed = true;
    pending.swap(shared_->pending);
  }
  for (GSource* source : pending) {
    g_source_destroy(source);
    g_source_unref(source);
  }
  g_main_context_unref(shared_->context);
}

void MainContextPoster::Post(Notification notification) {
  auto posted = std::make_unique<Posted>();
  posted->shared = shared_;
  posted->notification = std::move(notification);

  std::lock_guard<std::mutex> lock(shared_->mutex);
  if (shared_->closed) return;
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_static_name(source, "CorvaneClient notification");
  posted->source = source;
  Platform::HandOffReleased(posted.get());
  g_source_set_callback(source, &MainContextPoster::Dispatch, posted.release(),
                        &MainContextPoster::Free);
  shared_->pending.insert(source);  // our reference, from g_idle_source_new
  g_source_attach(source, shared_->context);
}

std::size_t MainContextPoster::GetPendingCount() const {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  return shared_->pending.size();
}

gboolean MainContextPoster::Dispatch(gpointer data) {
  auto* posted = static_cast<Posted*>(data);
  Platform::HandOffAcquired(posted);
  // Whoever frees the notification afterwards may be on another thread.
  struct ReleaseOnReturn {
    Posted* posted;
    ~ReleaseOnReturn() { Platform::HandOffReleased(posted); }
  } release{posted};
  Shared& shared = *posted->shared;
  std::lock_guard<std::recursive_mutex> delivering(shared.delivering);
  bool mine = false;
  {
    std::lock_guard<std::mutex> lock(shared.mutex);
    if (shared.closed) return G_SOURCE_REMOVE;
    mine = shared.pending.erase(posted->source) > 0;
  }
  // The context keeps its own reference until this returns.
  if (mine) g_source_unref(posted->source);
  shared.deliver(posted->notification);
  return G_SOURCE_REMOVE;
}

void MainContextPoster::Free(gpointer data) {
  Platform::HandOffAcquired(data);
  delete static_cast<Posted*>(data);
}

}  // namespace Control
}  // namespace Corvane
