#include "connection/ListenerSlot.h"

#include <mutex>
#include <set>
#include <string>
#include <typeinfo>

#include "errors/ExceptionText.h"
#include "logging/Logger.h"

namespace Corvane {
namespace Client {

namespace {
thread_local int callback_depth = 0;
}

ListenerSlot::InCallback::InCallback() { ++callback_depth; }
ListenerSlot::InCallback::~InCallback() { --callback_depth; }
bool ListenerSlot::IsInCallback() { return callback_depth > 0; }

void ListenerSlot::ReportThrown(const std::exception* thrown) const {
  const std::string kind = thrown ? typeid(*thrown).name() : "(not a std::exception)";
  {
    std::lock_guard<std::mutex> lock(reported_mutex_);
    if (!reported_.insert(kind).second) return;
  }
  const std::wstring text = thrown ? ExceptionText(*thrown) : std::wstring(L"an unknown exception");
  Logging::CreateLogger(L"Corvane::Client::ListenerSlot")
      ->Log(Logging::LogLevel::Error,
            L"The host's listener threw from a callback (%ls); the engine goes on.  Later "
            L"exceptions of this kind are not logged.",
            text.c_str());
}

template <typename Target>
void ListenerSlot::Store(std::atomic<Target*>& slot, Target* value) {
  if (IsInCallback()) {
    // This thread holds the shared lock, so the exclusive one would never
    // come: swap without waiting for other callbacks.
    slot = value;
    return;
  }
  std::unique_lock<std::shared_mutex> lock(mutex_);
  slot = value;
}

void ListenerSlot::Set(QuellorListener* listener) { Store(listener_, listener); }
void ListenerSlot::Clear() { Set(nullptr); }
void ListenerSlot::SetObserver(QuellorObserver* observer) { Store(observer_, observer); }
void ListenerSlot::ClearObserver() { SetObserver(nullptr); }

bool ListenerSlot::IsSet() const {
  return listener_.load() != nullptr;
}

}  // namespace Client
}  // namespace Corvane
