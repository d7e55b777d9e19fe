#include "control/EngineEvents.h"

#include <algorithm>
#include <map>
#include <utility>

#include "control/ObservableEngine.h"
#include "control/QuellorProxy.h"

namespace Corvane {
namespace Control {

namespace {

// The events of each engine with subscribers. Never destroyed: a control may
// be finalized during exit.
struct Registry {
  std::mutex mutex;
  std::map<const void*, std::unique_ptr<EngineEvents>> events;
};

Registry& TheRegistry() {
  static auto* registry = new Registry();
  return *registry;
}

}  // namespace

const void* EngineEvents::KeyOf(const std::shared_ptr<Client::Quellor>& engine) {
  if (const auto* proxy = dynamic_cast<const QuellorProxy*>(engine.get())) {
    if (proxy->GetEngineIdentity()) return proxy->GetEngineIdentity();
  }
  return engine.get();
}

void EngineEvents::Subscribe(const std::shared_ptr<Client::Quellor>& engine,
                             Subscriber* subscriber) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto& events = registry.events[KeyOf(engine)];
  if (!events) {
    events = std::make_unique<EngineEvents>(engine);
    events->Attach();
  }
  std::lock_guard<std::mutex> subscribers(events->mutex_);
  events->subscribers_.push_back(subscriber);
}

void EngineEvents::Unsubscribe(const std::shared_ptr<Client::Quellor>& engine,
                               Subscriber* subscriber) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  const auto found = registry.events.find(KeyOf(engine));
  if (found == registry.events.end()) return;
  EngineEvents& events = *found->second;
  bool last = false;
  {
    std::lock_guard<std::mutex> subscribers(events.mutex_);
    auto& list = events.subscribers_;
    list.erase(std::remove(list.begin(), list.end(), subscriber), list.end());
    last = list.empty();
  }
  if (!last) return;
  // The notifications in progress only take the subscriber list's lock, so
  // waiting for them here cannot deadlock.
  events.Detach();
  registry.events.erase(found);
}

bool EngineEvents::IsObserving(const std::shared_ptr<Client::Quellor>& engine) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  const auto found = registry.events.find(KeyOf(engine));
  return found != registry.events.end() && found->second->observing_;
}

EngineEvents::EngineEvents(std::shared_ptr<Client::Quellor> engine) : engine_(std::move(engine)) {}

void EngineEvents::Attach() {
  try {
    engine_->SetListener(this);
  } catch (...) {
    // No engine (or a broken one): every method reports it when called.
  }
  try {
    if (auto* observable = dynamic_cast<ObservableEngine*>(engine_.get())) {
      observable->SetObserver(this);
      observing_ = true;
    }
  } catch (...) {
    // An engine without the observer: the listener's notifications still come.
  }
}

void EngineEvents::Detach() {
  try {
    engine_->ClearListener();
  } catch (...) {
  }
  if (!observing_) return;
  try {
    dynamic_cast<ObservableEngine&>(*engine_).ClearObserver();
  } catch (...) {
  }
  observing_ = false;
}

template <typename Deliver>
void EngineEvents::ForEach(Deliver&& deliver) noexcept {
  try {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Subscriber* subscriber : subscribers_) {
      try {
        deliver(*subscriber);
      } catch (...) {
        // One subscriber's failure never keeps the notification from the rest.
      }
    }
  } catch (...) {
  }
}

void EngineEvents::OnError(int code, const std::wstring& description) {
  ForEach([&](Subscriber& subscriber) { subscriber.OnError(code, description); });
}

void EngineEvents::OnMessageReceived(const std::wstring& xml) {
  ForEach([&](Subscriber& subscriber) { subscriber.OnMessageReceived(xml); });
}

void EngineEvents::OnFileReceived(const std::wstring& path) {
  ForEach([&](Subscriber& subscriber) { subscriber.OnFileReceived(path); });
}

void EngineEvents::OnApplicationAdded(const Client::ApplicationInfo& application) {
  ForEach([&](Subscriber& subscriber) { subscriber.OnApplicationAdded(application); });
}

void EngineEvents::OnApplicationRemoved(const Client::ApplicationInfo& application,
                                        Client::DepartureReason reason) {
  ForEach([&](Subscriber& subscriber) { subscriber.OnApplicationRemoved(application, reason); });
}

void EngineEvents::OnFileProgress(const Client::FileProgress& progress) {
  ForEach([&](Subscriber& subscriber) { subscriber.OnFileProgress(progress); });
}

void EngineEvents::OnConnectionRefused(const std::wstring& address, const std::wstring& reason,
                                       std::uint64_t refusedSoFar) {
  ForEach([&](Subscriber& subscriber) {
    subscriber.OnConnectionRefused(address, reason, refusedSoFar);
  });
}

}  // namespace Control
}  // namespace Corvane
