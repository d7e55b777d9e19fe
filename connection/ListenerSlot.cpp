#include "connection/ListenerSlot.h"

#include <mutex>

namespace Corvane {
namespace Client {

namespace {
thread_local int callback_depth = 0;
}

ListenerSlot::InCallback::InCallback() { ++callback_depth; }
ListenerSlot::InCallback::~InCallback() { --callback_depth; }
bool ListenerSlot::IsInCallback() { return callback_depth > 0; }

void ListenerSlot::Set(QuellorListener* listener) {
  if (IsInCallback()) {
    // This thread holds the shared lock, so the exclusive one would never
    // come: swap without waiting for other callbacks.
    listener_ = listener;
    return;
  }
  std::unique_lock<std::shared_mutex> lock(mutex_);
  listener_ = listener;
}

void ListenerSlot::Clear() { Set(nullptr); }

bool ListenerSlot::IsSet() const {
  return listener_.load() != nullptr;
}

}  // namespace Client
}  // namespace Corvane
