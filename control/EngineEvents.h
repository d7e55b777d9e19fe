#pragma once
// The one listener and observer a process sets on an engine. Every control
// of the process shares the engine; each control's core subscribes here and
// is handed every notification, so creating or destroying one control never
// takes the engine's notifications from another.

#include <memory>
#include <mutex>
#include <vector>

#include "interface/Quellor.h"
#include "interface/QuellorObserver.h"

namespace Corvane {
namespace Control {

/// Thread-safety: Subscribe and Unsubscribe may be called from any host
/// thread; the notifications run on engine threads and hand each to every
/// subscriber while holding the subscriber list, so a subscriber removed by
/// Unsubscribe is never called afterwards.
class EngineEvents : public Client::QuellorListener, public Client::QuellorObserver {
 public:
  /// What a subscriber receives: the listener's and the observer's
  /// notifications, on engine threads. Each must return at once.
  class Subscriber : public Client::QuellorListener, public Client::QuellorObserver {};

  /// Adds `subscriber` to the events of `engine`'s engine (every proxy of
  /// one engine library shares them), setting the listener and observer on
  /// the engine when it is the first. A failure to set them (no engine, an
  /// engine without the observer's exports) is not an error.
  static void Subscribe(const std::shared_ptr<Client::Quellor>& engine, Subscriber* subscriber);
  /// Removes `subscriber`; the last one clears the engine's listener and
  /// observer, waiting for notifications in progress.
  static void Unsubscribe(const std::shared_ptr<Client::Quellor>& engine, Subscriber* subscriber);
  /// Whether the observer of `engine`'s events is set on the engine (false
  /// for an engine library without the observer's exports).
  static bool IsObserving(const std::shared_ptr<Client::Quellor>& engine);

  explicit EngineEvents(std::shared_ptr<Client::Quellor> engine);
  EngineEvents(const EngineEvents&) = delete;
  EngineEvents& operator=(const EngineEvents&) = delete;

  void OnError(int code, const std::wstring& description) override;
  void OnMessageReceived(const std::wstring& xml) override;
  void OnFileReceived(const std::wstring& path) override;
  void OnApplicationAdded(const Client::ApplicationInfo& application) override;
  void OnApplicationRemoved(const Client::ApplicationInfo& application,
                            Client::DepartureReason reason) override;
  void OnFileProgress(const Client::FileProgress& progress) override;
  void OnConnectionRefused(const std::wstring& address, const std::wstring& reason,
                           std::uint64_t refusedSoFar) override;

 private:
  // The registry's key for `engine`: the engine object behind a proxy, which
  // every proxy of one library shares, else the engine object itself.
  static const void* KeyOf(const std::shared_ptr<Client::Quellor>& engine);
  // Sets and clears the listener and observer on the engine.
  void Attach();
  void Detach();
  // Calls `deliver` for every subscriber, under the subscriber list's lock.
  template <typename Deliver>
  void ForEach(Deliver&& deliver) noexcept;

  std::shared_ptr<Client::Quellor> engine_;
  bool observing_ = false;
  std::mutex mutex_;
  std::vector<Subscriber*> subscribers_;
};

}  // namespace Control
}  // namespace Corvane
