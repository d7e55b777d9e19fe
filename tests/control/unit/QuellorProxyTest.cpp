#include "control/QuellorProxy.h"

#include <dlfcn.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/ModuleDirectory.h"
#include "platform/TextConversion.h"
#include "support/ExpectFailure.h"
#include "support/TempDir.h"
#include "tests/control/fakes/FakeEngineControl.h"

namespace Corvane {
namespace Control {
namespace {

using Testing::ExpectFailure;
using Testing::FakeEngineControl;

// The fake engine library of one variant (see tests/CMakeLists.txt).
std::string FakeEnginePath(const std::string& variant) {
  return std::string(CORVANE_FAKE_ENGINE_DIR) + "/" + variant + "/Quellor.so";
}

std::wstring WideFakeEnginePath(const std::string& variant) {
  return Platform::FromUtf8(FakeEnginePath(variant));
}

// Whether the library at `path` is loaded in this process, without loading it.
bool IsLoaded(const std::string& path) {
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
  if (!handle) return false;
  ::dlclose(handle);
  return true;
}

std::string CurrentDirectory() {
  char directory[PATH_MAX];
  return ::getcwd(directory, sizeof directory) ? directory : "";
}

// The test's own reference on a fake engine library and the fake's record,
// emptied at the start. The reference keeps the record alive across the
// proxies the test creates.
class FakeEngineLibrary {
 public:
  explicit FakeEngineLibrary(const std::string& variant)
      : handle_(::dlopen(FakeEnginePath(variant).c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (!handle_) throw std::runtime_error(::dlerror());
    auto get = reinterpret_cast<Testing::FakeEngineControlFunction>(
        ::dlsym(handle_, "GetFakeEngineControl"));
    if (!get) throw std::runtime_error("no GetFakeEngineControl in " + FakeEnginePath(variant));
    control_ = get();
    control_->Reset();
  }
  ~FakeEngineLibrary() {
    control_->Reset();
    ::dlclose(handle_);
  }
  FakeEngineLibrary(const FakeEngineLibrary&) = delete;
  FakeEngineLibrary& operator=(const FakeEngineLibrary&) = delete;

  FakeEngineControl& Control() { return *control_; }

 private:
  void* handle_;
  FakeEngineControl* control_ = nullptr;
};

// Every operation of the engine interface, by name, with some arguments.
std::vector<std::pair<std::string, std::function<void(Client::Quellor&)>>> AllOperations() {
  return {
      {"Register", [](Client::Quellor& q) { q.Register(); }},
      {"Unregister", [](Client::Quellor& q) { q.Unregister(L"id"); }},
      {"GetConnectorType", [](Client::Quellor& q) { q.GetConnectorType(); }},
      {"Start",
       [](Client::Quellor& q) {
         q.Start(L"id", L"name", L"228.11.11.11", 1, 2, 3, true, 4, 5, 6, L"/files");
       }},
      {"Stop", [](Client::Quellor& q) { q.Stop(); }},
      {"IsStarted", [](Client::Quellor& q) { q.IsStarted(); }},
      {"SetListener", [](Client::Quellor& q) { q.SetListener(nullptr); }},
      {"ClearListener", [](Client::Quellor& q) { q.ClearListener(); }},
      {"IsHailing", [](Client::Quellor& q) { q.IsHailing(); }},
      {"SendData", [](Client::Quellor& q) { q.SendData(L"<a/>"); }},
      {"GetApplications", [](Client::Quellor& q) { q.GetApplications(); }},
  };
}

void ExpectEveryOperationFails(QuellorProxy& proxy, const std::wstring& text) {
  for (const auto& operation : AllOperations()) {
    SCOPED_TRACE(operation.first);
    ExpectFailure([&] { operation.second(proxy); }, QuellorProxy::kLoadFailure, text);
  }
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// --- Loading failures -------------------------------------------------------

TEST(QuellorProxyTest, MissingLibraryIsRecordedAndFailsEveryOperation) {
  Testing::TempDir empty;
  const std::wstring path = empty.WidePath() + L"/Quellor.so";

  QuellorProxy proxy(path);

  const std::wstring& error = proxy.GetLoadError();
  // The number is the file's own error: 2, no such file.
  EXPECT_TRUE(StartsWith(error, L"Quellor could not be loaded.  File is " + path +
                                    L".  Error message is (2) "))
      << Platform::ToUtf8(error);
  EXPECT_EQ(error.back(), L'.');
  EXPECT_EQ(error.find_first_of(L"\r\n"), std::wstring::npos);
  ExpectEveryOperationFails(proxy, error);
}

TEST(QuellorProxyTest, DefaultLibraryIsLookedForBesideTheModuleHoldingTheProxy) {
  // The proxy's code is linked into this test program, whose directory holds
  // no engine library.
  const std::wstring path =
      Platform::ModuleDirectoryOf(reinterpret_cast<const void*>(&WideFakeEnginePath)) +
      L"/Quellor.so";
  if (std::filesystem::exists(path)) GTEST_SKIP() << "an engine library lies beside the tests";

  QuellorProxy proxy;

  EXPECT_TRUE(StartsWith(proxy.GetLoadError(), L"Quellor could not be loaded.  File is " + path +
                                                   L".  Error message is ("))
      << Platform::ToUtf8(proxy.GetLoadError());
}

TEST(QuellorProxyTest, LibraryWithoutGetConnectorFailsEveryOperation) {
  FakeEngineLibrary fake("no_connector");

  QuellorProxy proxy(WideFakeEnginePath("no_connector"));

  const std::wstring& error = proxy.GetLoadError();
  EXPECT_TRUE(StartsWith(error, L"GetConnector function could not be loaded.  Error message is ("))
      << Platform::ToUtf8(error);
  EXPECT_NE(error.find(L"GetConnector", 10), std::wstring::npos) << "the loader's text";
  EXPECT_EQ(error.back(), L'.');
  ExpectEveryOperationFails(proxy, error);
  // Without an engine no operation is even bound.
  EXPECT_TRUE(fake.Control().getterCalls.empty());
}

TEST(QuellorProxyTest, NullEngineFailsEveryOperationWithEmptyText) {
  FakeEngineLibrary fake("null_connector");

  QuellorProxy proxy(WideFakeEnginePath("null_connector"));

  EXPECT_EQ(proxy.GetLoadError(), L"");
  ExpectEveryOperationFails(proxy, L"");
  EXPECT_TRUE(fake.Control().getterCalls.empty());
}

TEST(QuellorProxyTest, MissingOperationEntryFailsThatOperationOnly) {
  FakeEngineLibrary fake("no_send_data");
  QuellorProxy proxy(WideFakeEnginePath("no_send_data"));
  ASSERT_EQ(proxy.GetLoadError(), L"");

  for (int attempt = 0; attempt < 2; ++attempt) {
    SCOPED_TRACE(attempt);
    try {
      proxy.SendData(L"<a/>");
      ADD_FAILURE() << "no exception";
    } catch (const Client::QuellorException& e) {
      EXPECT_EQ(e.GetCode(), QuellorProxy::kLoadFailure);
      EXPECT_TRUE(StartsWith(e.GetMessage(), L"get_SendData_method"))
          << Platform::ToUtf8(e.GetMessage());
    }
  }

  EXPECT_FALSE(proxy.IsStarted());
  EXPECT_EQ(proxy.GetConnectorType(), L"Fake");
  proxy.Stop();
  EXPECT_EQ(fake.Control().script.calls,
            (std::vector<std::wstring>{L"IsStarted", L"GetConnectorType", L"Stop"}));
}

// --- Forwarding -------------------------------------------------------------

class RecordingOnlyListener : public Client::QuellorListener {
 public:
  void OnError(int, const std::wstring&) override {}
  void OnMessageReceived(const std::wstring&) override {}
  void OnFileReceived(const std::wstring&) override {}
};

TEST(QuellorProxyTest, EachOperationReachesItsOwnEngineOperation) {
  FakeEngineLibrary fake("complete");
  FakeEngineControl& control = fake.Control();
  control.script.hailing = true;
  control.script.applications = std::make_shared<Client::ClientApplicationList>();
  RecordingOnlyListener listener;

  QuellorProxy proxy(WideFakeEnginePath("complete"));
  ASSERT_EQ(proxy.GetLoadError(), L"");

  EXPECT_EQ(proxy.Register(), L"client-1");
  proxy.Unregister(L"client-7");
  EXPECT_EQ(proxy.GetConnectorType(), L"Fake");
  EXPECT_FALSE(proxy.IsStarted());
  proxy.Start(L"app-id", L"App Name", L"239.1.2.3", 11, 12, 13, false, 14, 15, 16, L"/srv/files");
  EXPECT_TRUE(proxy.IsStarted());
  EXPECT_TRUE(proxy.IsHailing());
  proxy.SetListener(&listener);
  EXPECT_EQ(control.script.listener, &listener);
  proxy.ClearListener();
  EXPECT_EQ(control.script.listener, nullptr);
  proxy.SendData(L"<data>x</data>");
  EXPECT_EQ(proxy.GetApplications(), control.script.applications);
  proxy.Stop();

  EXPECT_EQ(control.script.calls,
            (std::vector<std::wstring>{
                L"Register", L"Unregister|client-7", L"GetConnectorType", L"IsStarted",
                L"Start|app-id|App Name|239.1.2.3|11|12|13|0|14|15|16|/srv/files", L"IsStarted",
                L"IsHailing", L"SetListener", L"ClearListener", L"SendData|<data>x</data>",
                L"GetApplications", L"Stop"}));
  // Each operation was bound through its own export, once.
  for (const auto& operation : AllOperations()) {
    EXPECT_EQ(control.getterCalls[operation.first], 1) << operation.first;
  }
}

TEST(QuellorProxyTest, OperationIsBoundOnFirstUseOnly) {
  FakeEngineLibrary fake("complete");
  FakeEngineControl& control = fake.Control();

  QuellorProxy proxy(WideFakeEnginePath("complete"));
  EXPECT_TRUE(control.getterCalls.empty()) << "nothing is bound while loading";

  proxy.SendData(L"<a/>");
  EXPECT_EQ(control.getterCalls, (std::map<std::string, int>{{"SendData", 1}}));

  proxy.SendData(L"<b/>");
  control.script.Fail(L"SendData", -200, L"XML is not valid");
  EXPECT_THROW(proxy.SendData(L"<c/>"), Client::QuellorException);
  EXPECT_EQ(control.getterCalls, (std::map<std::string, int>{{"SendData", 1}}));
  EXPECT_EQ(control.script.calls.size(), 3u);
}

TEST(QuellorProxyTest, EngineExceptionsPassThroughUnchanged) {
  FakeEngineLibrary fake("complete");
  FakeEngineControl& control = fake.Control();
  QuellorProxy proxy(WideFakeEnginePath("complete"));

  // Neither the code (outside 16 bits) nor the wide text is altered.
  const std::wstring text = L"Gr\u00fc\u00dfe \U0001D11E nicht gesendet";
  control.script.everyOperationFails =
      std::make_exception_ptr(Client::QuellorException(text, -70000));
  ExpectFailure([&] { proxy.SendData(L"<a/>"); }, -70000, text);
  ExpectFailure([&] { proxy.Register(); }, -70000, text);

  // The proxy does not translate other exceptions; that is the control's job.
  control.script.everyOperationFails =
      std::make_exception_ptr(std::runtime_error("not a Quellor failure"));
  try {
    proxy.Stop();
    ADD_FAILURE() << "no exception";
  } catch (const Client::QuellorException&) {
    ADD_FAILURE() << "translated";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "not a Quellor failure");
  }
}

// --- Extension operations ---------------------------------------------------

// The observer's operations, each through its own export; an engine library
// built before them lacks their exports, which fails those operations alone.
TEST(QuellorProxyTest, ExtensionOperationsReachTheEngineOrFailAloneWhenNotExported) {
  class NoOpObserver : public Client::QuellorObserver {} observer;
  {
    FakeEngineLibrary fake("complete");
    FakeEngineControl& control = fake.Control();
    control.script.outcomes = {{L"a", 0, L""}, {L"b", -111, L"no acknowledgement"}};
    Client::ApplicationHealth health;
    health.application.id = L"a";
    health.bytesReceived = 42;
    control.script.health = {health};
    QuellorProxy proxy(WideFakeEnginePath("complete"));

    proxy.SetObserver(&observer);
    EXPECT_EQ(control.script.observer, &observer);
    const auto outcomes = proxy.SendDataEach(L"<a/>");
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[1].applicationId, L"b");
    EXPECT_EQ(outcomes[1].status, -111);
    const auto read = proxy.GetApplicationHealth();
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].bytesReceived, 42u);
    proxy.ClearObserver();
    EXPECT_EQ(control.script.observer, nullptr);
    EXPECT_EQ(control.script.calls,
              (std::vector<std::wstring>{L"SetObserver", L"SendDataEach|<a/>",
                                         L"GetApplicationHealth", L"ClearObserver"}));
    for (const char* name : {"SetObserver", "ClearObserver", "SendDataEach",
                             "GetApplicationHealth"}) {
      EXPECT_EQ(control.getterCalls[name], 1) << name;
    }
  }
  {
    FakeEngineLibrary fake("no_observer");
    QuellorProxy proxy(WideFakeEnginePath("no_observer"));
    const std::vector<std::pair<std::string, std::function<void()>>> extensions = {
        {"get_SetObserver_method", [&] { proxy.SetObserver(&observer); }},
        {"get_ClearObserver_method", [&] { proxy.ClearObserver(); }},
        {"get_SendDataEach_method", [&] { proxy.SendDataEach(L"<a/>"); }},
        {"get_GetApplicationHealth_method", [&] { proxy.GetApplicationHealth(); }}};
    for (const auto& extension : extensions) {
      SCOPED_TRACE(extension.first);
      try {
        extension.second();
        ADD_FAILURE() << "no exception";
      } catch (const Client::QuellorException& e) {
        EXPECT_EQ(e.GetCode(), QuellorProxy::kLoadFailure);
        EXPECT_TRUE(StartsWith(e.GetMessage(), Platform::FromUtf8(extension.first)))
            << Platform::ToUtf8(e.GetMessage());
      }
    }
    // The specified operations still work.
    proxy.SendData(L"<a/>");
    EXPECT_FALSE(proxy.IsStarted());
    EXPECT_EQ(fake.Control().script.calls,
              (std::vector<std::wstring>{L"SendData|<a/>", L"IsStarted"}));
  }
  // Without an engine library they fail as every operation does.
  Testing::TempDir empty;
  QuellorProxy missing(empty.WidePath() + L"/Quellor.so");
  ExpectFailure([&] { missing.SendDataEach(L"<a/>"); }, QuellorProxy::kLoadFailure,
                missing.GetLoadError());
  ExpectFailure([&] { missing.SetObserver(&observer); }, QuellorProxy::kLoadFailure,
                missing.GetLoadError());
}

// --- Lifetime ---------------------------------------------------------------

TEST(QuellorProxyTest, DisposeForgetsTheEngine) {
  FakeEngineLibrary fake("complete");
  QuellorProxy proxy(WideFakeEnginePath("complete"));
  EXPECT_FALSE(proxy.IsStarted());

  proxy.Dispose();

  ExpectEveryOperationFails(proxy, L"");
  EXPECT_EQ(fake.Control().script.calls, (std::vector<std::wstring>{L"IsStarted"}));
  proxy.Dispose();  // again: harmless, as is the destruction that follows
}

TEST(QuellorProxyTest, DisposeKeepsTheLoadFailureText) {
  Testing::TempDir empty;
  QuellorProxy proxy(empty.WidePath() + L"/Quellor.so");
  const std::wstring error = proxy.GetLoadError();
  ASSERT_FALSE(error.empty());

  proxy.Dispose();

  ExpectFailure([&] { proxy.IsStarted(); }, QuellorProxy::kLoadFailure, error);
}

// No test reference is held here: the proxies' own references alone decide
// whether the library stays loaded.
TEST(QuellorProxyTest, CopiesKeepTheLibraryLoaded) {
  const std::string path = FakeEnginePath("complete");
  ASSERT_FALSE(IsLoaded(path)) << "a previous test left the library loaded";

  auto original = std::make_unique<QuellorProxy>(Platform::FromUtf8(path));
  EXPECT_EQ(original->GetConnectorType(), L"Fake");  // bound before copying
  QuellorProxy copy(*original);
  QuellorProxy assigned(Platform::FromUtf8(FakeEnginePath("no_connector")));
  assigned = *original;
  const QuellorProxy& same = assigned;
  assigned = same;
  original.reset();

  ASSERT_TRUE(IsLoaded(path));
  EXPECT_EQ(copy.GetConnectorType(), L"Fake");
  EXPECT_EQ(copy.Register(), L"client-1");  // bound after the original went
  EXPECT_EQ(assigned.GetLoadError(), L"");
  EXPECT_EQ(assigned.Register(), L"client-1");

  copy.Dispose();
  ASSERT_TRUE(IsLoaded(path));
  EXPECT_EQ(assigned.GetConnectorType(), L"Fake");
  assigned.Dispose();
  EXPECT_FALSE(IsLoaded(path)) << "the last reference unloads the library";
  EXPECT_FALSE(IsLoaded(FakeEnginePath("no_connector")));
}

TEST(QuellorProxyTest, CurrentDirectoryIsNeverChanged) {
  Testing::TempDir elsewhere;
  const std::string before = CurrentDirectory();
  ASSERT_EQ(::chdir(elsewhere.Path().c_str()), 0);
  const std::string working = CurrentDirectory();
  struct Restore {
    std::string directory;
    ~Restore() {
      if (::chdir(directory.c_str()) != 0) ADD_FAILURE() << "cannot return to " << directory;
    }
  } restore{before};

  {
    FakeEngineLibrary fake("complete");
    QuellorProxy loaded(WideFakeEnginePath("complete"));
    EXPECT_EQ(CurrentDirectory(), working);
    // Not even while the engine was obtained.
    EXPECT_EQ(fake.Control().directoryAtGetConnector, working);
  }
  QuellorProxy headless(WideFakeEnginePath("no_connector"));
  EXPECT_EQ(CurrentDirectory(), working);
  QuellorProxy missing(elsewhere.WidePath() + L"/Quellor.so");
  EXPECT_EQ(CurrentDirectory(), working);
}

}  // namespace
}  // namespace Control
}  // namespace Corvane
