#pragma once
// The engine as the control sees it: Quellor.so loaded at run time from the
// control module's own directory, its operations bound lazily through the
// get_<Method>_method exports. A missing or broken engine library never stops
// the control from loading: every operation then throws QuellorException -999
// with the reason.

#include <array>
#include <atomic>
#include <mutex>
#include <string>

#include "control/ObservableEngine.h"
#include "interface/Quellor.h"
#include "platform/DynamicLibrary.h"

#if defined(__GNUC__)
#define CORVANE_CONTROL_API __attribute__((visibility("default")))
#else
#define CORVANE_CONTROL_API
#endif

namespace Corvane {
namespace Control {

/// Forwards every Quellor operation to the engine of the loaded library, and
/// the extension operations (observer, per-application send, link health)
/// when the library exports them: a library without one gives -999 for that
/// operation alone.
///
/// Thread-safety: the operations may be called from any thread, as the
/// engine's own may: an operation is bound once, under a lock, on its first
/// use.
class CORVANE_CONTROL_API QuellorProxy : public Client::Quellor, public ObservableEngine {
 public:
  /// The code every loading failure is reported with.
  static constexpr int kLoadFailure = -999;

  /// Loads Quellor.so from the control module's directory. Never throws
  /// because the engine is missing; the failure is recorded.
  QuellorProxy();
  /// Loads the engine library at `libraryPath` (other native users, tests).
  explicit QuellorProxy(const std::wstring& libraryPath);
  /// The copy shares the engine and takes its own reference on the library.
  QuellorProxy(const QuellorProxy& other);
  QuellorProxy& operator=(const QuellorProxy& other);
  ~QuellorProxy() override;

  /// Forgets the engine and drops the library; afterwards every operation
  /// fails with -999.
  void Dispose();

  /// Why loading failed; empty after a successful load.
  const std::wstring& GetLoadError() const { return load_error_; }

  std::wstring Register() override;
  void Unregister(const std::wstring& id) override;
  std::wstring GetConnectorType() override;
  void Start(const std::wstring& applicationId, const std::wstring& applicationName,
             const std::wstring& groupAddress, int groupPort, int serverPort, int hailingInterval,
             bool usingHailingServer, int ackTimeout, int healthCheckInterval, int filePort,
             const std::wstring& fileDirectory) override;
  void Stop() override;
  bool IsStarted() override;
  void SetListener(Client::QuellorListener* listener) override;
  void ClearListener() override;
  bool IsHailing() override;
  void SendData(const std::wstring& xml) override;
  std::shared_ptr<Client::ClientApplicationList> GetApplications() override;

  void SetObserver(Client::QuellorObserver* observer) override;
  void ClearObserver() override;
  std::vector<Client::SendOutcome> SendDataEach(const std::wstring& xml) override;
  std::vector<Client::ApplicationHealth> GetApplicationHealth() override;

  /// The engine object the library handed out (null when loading failed):
  /// every proxy of one library shares it.
  const void* GetEngineIdentity() const { return engine_; }

 private:
  // Bindings in this order.
  enum Operation {
    kGetConnectorType,
    kStart,
    kStop,
    kIsStarted,
    kSetListener,
    kClearListener,
    kIsHailing,
    kRegister,
    kUnregister,
    kSendData,
    kGetApplications,
    kSetObserver,
    kClearObserver,
    kSendDataEach,
    kGetApplicationHealth,
    kOperationCount
  };

  // One engine operation: the address of its call stub once resolved, the
  // export that hands it out, and that export's name.
  struct MethodBinding {
    MethodBinding() = default;
    MethodBinding(const MethodBinding& other) { *this = other; }
    MethodBinding& operator=(const MethodBinding& other) {
      method = other.method.load();
      getter = other.getter;
      entryName = other.entryName;
      return *this;
    }
    std::atomic<void*> method{nullptr};
    Client::GetMethodFunction getter = nullptr;
    std::string entryName;
  };

  void Initialize(const std::wstring& libraryPath);
  void CheckPreconditions() const;
  // The stub of `operation` as the function type `Method`, resolving it on
  // first use.
  template <typename Method>
  Method Bind(Operation operation);

  Platform::DynamicLibrary library_;
  Client::Quellor* engine_ = nullptr;
  std::wstring load_error_;
  std::array<MethodBinding, kOperationCount> bindings_;
  std::mutex binding_mutex_;  // held while an operation is bound
};

}  // namespace Control
}  // namespace Corvane
