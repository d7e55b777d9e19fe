#include "control/QuellorProxy.h"

#include "platform/ModuleDirectory.h"
#include "platform/TextConversion.h"

namespace Corvane {
namespace Control {

namespace Methods = Client::QuellorMethods;
namespace ExtensionMethods = Client::QuellorExtensionMethods;

namespace {

const char* const kMethodNames[] = {"GetConnectorType", "Start",      "Stop",     "IsStarted",
                                    "SetListener",      "ClearListener", "IsHailing", "Register",
                                    "Unregister",       "SendData",   "GetApplications",
                                    "SetObserver",      "ClearObserver", "SendDataEach",
                                    "GetApplicationHealth"};
static_assert(sizeof kMethodNames / sizeof kMethodNames[0] == 15, "a name for every operation");

// "(code) text." as the loader reports a failure.
std::wstring DescribeFailure(const Platform::DynamicLibrary::Failure& failure) {
  return L"(" + std::to_wstring(failure.code) + L") " + Platform::FromUtf8(failure.text) + L".";
}

std::wstring DefaultLibraryPath() {
  return Platform::ModuleDirectoryOf(reinterpret_cast<const void*>(&DefaultLibraryPath)) +
         L"/Quellor.so";
}

}  // namespace

QuellorProxy::QuellorProxy() : QuellorProxy(DefaultLibraryPath()) {}

QuellorProxy::QuellorProxy(const std::wstring& libraryPath) {
  for (int i = 0; i < kOperationCount; ++i) {
    bindings_[i].entryName = std::string("get_") + kMethodNames[i] + "_method";
  }
  Initialize(libraryPath);
}

// A copy binds under a lock of its own.
QuellorProxy::QuellorProxy(const QuellorProxy& other)
    : library_(other.library_),
      engine_(other.engine_),
      load_error_(other.load_error_),
      bindings_(other.bindings_) {}

QuellorProxy& QuellorProxy::operator=(const QuellorProxy& other) {
  library_ = other.library_;
  engine_ = other.engine_;
  load_error_ = other.load_error_;
  bindings_ = other.bindings_;
  return *this;
}

QuellorProxy::~QuellorProxy() { Dispose(); }

void QuellorProxy::Initialize(const std::wstring& libraryPath) {
  // The loader finds the engine's own dependencies through its run path, so
  // the process's current directory is never changed here.
  library_ = Platform::DynamicLibrary(Platform::ToUtf8(libraryPath));
  if (!library_.IsLoaded()) {
    load_error_ = L"Quellor could not be loaded.  File is " + libraryPath +
                  L".  Error message is " + DescribeFailure(library_.GetLoadFailure());
    return;
  }
  Platform::DynamicLibrary::Failure failure;
  auto getConnector =
      reinterpret_cast<Client::GetConnectorFunction>(library_.Symbol("GetConnector", failure));
  if (!getConnector) {
    load_error_ =
        L"GetConnector function could not be loaded.  Error message is " + DescribeFailure(failure);
    return;
  }
  engine_ = getConnector();
}

void QuellorProxy::Dispose() {
  engine_ = nullptr;
  library_.Unload();
}

void QuellorProxy::CheckPreconditions() const {
  if (!library_.IsLoaded() || !engine_) throw Client::QuellorException(load_error_, kLoadFailure);
}

template <typename Method>
Method QuellorProxy::Bind(Operation operation) {
  CheckPreconditions();
  MethodBinding& binding = bindings_[operation];
  if (void* method = binding.method.load(std::memory_order_acquire)) {
    return reinterpret_cast<Method>(method);
  }
  std::lock_guard<std::mutex> lock(binding_mutex_);
  if (!binding.method.load(std::memory_order_relaxed)) {
    Platform::DynamicLibrary::Failure failure;
    binding.getter =
        reinterpret_cast<Client::GetMethodFunction>(library_.Symbol(binding.entryName, failure));
    if (!binding.getter) {
      throw Client::QuellorException(Platform::FromUtf8(binding.entryName) +
                                         L" function could not be loaded.  Error message is " +
                                         DescribeFailure(failure),
                                     kLoadFailure);
    }
    void* method = binding.getter();
    if (!method) {
      throw Client::QuellorException(
          Platform::FromUtf8(binding.entryName) + L" returned no operation.", kLoadFailure);
    }
    binding.method.store(method, std::memory_order_release);
  }
  return reinterpret_cast<Method>(binding.method.load(std::memory_order_relaxed));
}

std::wstring QuellorProxy::Register() { return Bind<Methods::Register>(kRegister)(engine_); }

void QuellorProxy::Unregister(const std::wstring& id) {
  Bind<Methods::Unregister>(kUnregister)(engine_, id);
}

std::wstring QuellorProxy::GetConnectorType() {
  return Bind<Methods::GetConnectorType>(kGetConnectorType)(engine_);
}

void QuellorProxy::Start(const std::wstring& applicationId, const std::wstring& applicationName,
                         const std::wstring& groupAddress, int groupPort, int serverPort,
                         int hailingInterval, bool usingHailingServer, int ackTimeout,
                         int healthCheckInterval, int filePort, const std::wstring& fileDirectory) {
  Bind<Methods::Start>(kStart)(engine_, applicationId, applicationName, groupAddress, groupPort,
                               serverPort, hailingInterval, usingHailingServer, ackTimeout,
                               healthCheckInterval, filePort, fileDirectory);
}

void QuellorProxy::Stop() { Bind<Methods::Stop>(kStop)(engine_); }

bool QuellorProxy::IsStarted() { return Bind<Methods::IsStarted>(kIsStarted)(engine_); }

void QuellorProxy::SetListener(Client::QuellorListener* listener) {
  Bind<Methods::SetListener>(kSetListener)(engine_, listener);
}

void QuellorProxy::ClearListener() { Bind<Methods::ClearListener>(kClearListener)(engine_); }

bool QuellorProxy::IsHailing() { return Bind<Methods::IsHailing>(kIsHailing)(engine_); }

void QuellorProxy::SendData(const std::wstring& xml) {
  Bind<Methods::SendData>(kSendData)(engine_, xml);
}

std::shared_ptr<Client::ClientApplicationList> QuellorProxy::GetApplications() {
  return Bind<Methods::GetApplications>(kGetApplications)(engine_);
}

void QuellorProxy::SetObserver(Client::QuellorObserver* observer) {
  Bind<ExtensionMethods::SetObserver>(kSetObserver)(engine_, observer);
}

void QuellorProxy::ClearObserver() {
  Bind<ExtensionMethods::ClearObserver>(kClearObserver)(engine_);
}

std::vector<Client::SendOutcome> QuellorProxy::SendDataEach(const std::wstring& xml) {
  return Bind<ExtensionMethods::SendDataEach>(kSendDataEach)(engine_, xml);
}

std::vector<Client::ApplicationHealth> QuellorProxy::GetApplicationHealth() {
  return Bind<ExtensionMethods::GetApplicationHealth>(kGetApplicationHealth)(engine_);
}

}  // namespace Control
}  // namespace Corvane
