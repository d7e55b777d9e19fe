#pragma once
// The control's side of the engine, free of any toolkit: the methods with
// their status codes and last error, and the engine's notifications copied
// and posted to the host's thread. The stored properties live in the
// GObject control, which hands them to Start.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "control/ApplicationRecord.h"
#include "control/EngineEvents.h"
#include "control/NotificationPoster.h"
#include "interface/Quellor.h"
#include "interface/QuellorObserver.h"

namespace Corvane {
namespace Control {

/// Thread-safety: every member but the notifications runs on the host's
/// thread that owns the control. The notifications run on engine threads and
/// only copy and post.
class ControlCore : public EngineEvents::Subscriber {
 public:
  /// The status of a failure that is not the engine's own: no engine, an
  /// exception other than QuellorException, a call on something that is not
  /// a control. The same number as a missing engine library.
  static constexpr std::int16_t kInternalFailure = -999;
  /// The last error after an engine operation threw something that is not a
  /// std::exception.
  static constexpr const wchar_t* kUnknownExceptionText =
      L"The engine failed with an exception of unknown type.";

  /// Takes the engine (normally a QuellorProxy) and subscribes to its
  /// events (EngineEvents: one listener and observer for every control of
  /// the process); a missing engine is not an error here. Notifications go
  /// to `poster`, which must outlive the core.
  ControlCore(std::shared_ptr<Client::Quellor> engine, NotificationPoster& poster);
  /// Unsubscribes (the last subscriber clears the engine's listener and
  /// observer, waiting for notifications in progress), then releases the
  /// engine. Does not stop it.
  ~ControlCore() override;
  ControlCore(const ControlCore&) = delete;
  ControlCore& operator=(const ControlCore&) = delete;

  /// Asked of the engine; false when it cannot answer.
  bool IsStarted();
  bool IsHailing();

  /// Each returns 0, or the failure's code cut to 16 bits with its text kept
  /// as the last error. The last error is emptied first. Any exception is
  /// caught: a QuellorException gives its code and text, anything else
  /// kInternalFailure with its text (kUnknownExceptionText when it has none).
  /// Start passes the settings to the engine as they are: the engine checks
  /// them.
  std::int16_t Start(const std::wstring& clientId, const std::wstring& connectionName,
                     const std::wstring& groupAddress, int groupPort, int serverPort,
                     int hailingInterval, bool usingHailingServer, int ackTimeout,
                     int healthCheckInterval, int filePort, const std::wstring& fileDirectory);
  std::int16_t Stop();
  /// A null `clientId` returns 0 at once and leaves the last error alone.
  std::int16_t Unregister(const std::wstring* clientId);
  /// A null `xml` sends an empty text.
  std::int16_t SendData(const std::wstring* xml);
  /// A fresh client id; empty on failure.
  std::wstring Register();
  /// The connected applications in the engine's order; empty on failure.
  /// Does not empty the last error first.
  std::vector<ApplicationRecord> GetApplications();

  /// The engine's code for a document that fails its grammar.
  static constexpr int kInvalidDocument = -200;

  /// Sends like SendData and gives one outcome per application connected
  /// at the call. Returns 0 when the document went out, whatever each
  /// application's outcome, else the status of the failure before anything
  /// was sent, with its text as the last error: what the engine threw (no
  /// engine, an engine without the operation, no application), or
  /// kInvalidDocument when every outcome carries it (the engine refused the
  /// document; the outcomes, kept, hold its validity errors). The last error
  /// and `outcomes` are emptied first. A null `xml` sends an empty text.
  std::int16_t SendDataEach(const std::wstring* xml, std::vector<Client::SendOutcome>& outcomes);

  /// What a send to each application came to, apart from any control.
  struct SendEachResult {
    std::int16_t status = 0;
    std::vector<Client::SendOutcome> outcomes;
    std::wstring error;  // the last error it leaves
  };
  /// SendDataEach's work on `engine` (a core's GetEngine()), touching no
  /// core: safe on any thread, as the engine's SendData is.
  static SendEachResult SendEach(const std::shared_ptr<Client::Quellor>& engine,
                                 const std::wstring* xml);
  /// Takes in a result of SendEach made for this core: its error becomes the
  /// last error, its outcomes go to `outcomes`; returns its status.
  std::int16_t Take(SendEachResult&& result, std::vector<Client::SendOutcome>& outcomes);
  const std::shared_ptr<Client::Quellor>& GetEngine() const { return engine_; }
  /// The connected applications with their link health; false, with
  /// `health` empty and the last error alone, when the engine cannot tell.
  bool GetApplicationHealth(std::vector<Client::ApplicationHealth>& health);
  /// Whether the engine reports applications coming and going (an engine
  /// library without the observer's exports does not).
  bool IsObserving() const;

  const std::wstring& GetLastError() const { return last_error_; }

  void OnError(int code, const std::wstring& description) override;
  void OnMessageReceived(const std::wstring& xml) override;
  void OnFileReceived(const std::wstring& path) override;
  void OnApplicationAdded(const Client::ApplicationInfo& application) override;
  void OnApplicationRemoved(const Client::ApplicationInfo& application,
                            Client::DepartureReason reason) override;
  void OnFileProgress(const Client::FileProgress& progress) override;
  void OnConnectionRefused(const std::wstring& address, const std::wstring& reason,
                           std::uint64_t refusedSoFar) override;

  /// An engine error number as the host's 16-bit status: its low 16 bits.
  static std::int16_t ToStatus(int code);

 private:
  // Runs `operation`, turning a failure into a status and the last error.
  template <typename Operation>
  std::int16_t Run(Operation&& operation);
  // The same, the failure's text going to `error`.
  template <typename Operation>
  static std::int16_t RunInto(std::wstring& error, Operation&& operation);
  // Copies the text and posts it; never throws into the engine's thread.
  void Post(Notification::Kind kind, int number, const std::wstring& text) noexcept;
  void Post(Notification notification) noexcept;

  std::shared_ptr<Client::Quellor> engine_;
  NotificationPoster& poster_;
  std::wstring last_error_;
};

}  // namespace Control
}  // namespace Corvane
