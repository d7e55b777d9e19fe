#include "control/ControlCore.h"

#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "control/QuellorProxy.h"
#include "support/TempDir.h"
#include "tests/control/fakes/RecordingEngine.h"

namespace Corvane {
namespace Control {
namespace {

using Client::ClientApplication;
using Client::ClientApplicationList;
using Client::QuellorException;
using Client::QuellorListener;

class FakeApplication : public ClientApplication {
 public:
  FakeApplication(std::wstring id, std::wstring name, std::wstring address, int version)
      : id_(std::move(id)), name_(std::move(name)), address_(std::move(address)),
        version_(version) {}
  std::wstring GetAddress() override { return address_; }
  std::wstring GetId() override { return id_; }
  std::wstring GetName() override {
    if (failing_) throw QuellorException(L"gone while listed", -120);
    return name_;
  }
  int GetVersion() override { return version_; }
  void FailGetName() { failing_ = true; }

 private:
  std::wstring id_, name_, address_;
  int version_;
  bool failing_ = false;
};

// Records what the core posts; may be told to refuse.
class RecordingPoster : public NotificationPoster {
 public:
  void Post(Notification notification) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (refusal_) std::rethrow_exception(refusal_);
    posted_.push_back(std::move(notification));
  }
  std::vector<Notification> Posted() {
    std::lock_guard<std::mutex> lock(mutex_);
    return posted_;
  }
  void Refuse(std::exception_ptr refusal) {
    std::lock_guard<std::mutex> lock(mutex_);
    refusal_ = std::move(refusal);
  }

 private:
  std::mutex mutex_;
  std::vector<Notification> posted_;
  std::exception_ptr refusal_;
};

// Start with the default settings.
std::int16_t StartCore(ControlCore& core, const std::wstring& id, const std::wstring& name) {
  return core.Start(id, name, L"228.11.11.11", 45599, 45500, 15000, true, 30000, 60000, 45501,
                    L"/tmp/files");
}

class ControlCoreTest : public ::testing::Test {
 protected:
  ControlCoreTest()
      : core_(std::make_unique<Testing::RecordingEngine>(*script_), poster_) {}

  std::shared_ptr<Testing::EngineScript> script_ = std::make_shared<Testing::EngineScript>();
  RecordingPoster poster_;
  ControlCore core_;
};

// --- Start -----------------------------------------------------------------

TEST_F(ControlCoreTest, StartPassesTheSettingsInOrderAsTheyAre) {
  EXPECT_EQ(core_.GetLastError(), L"");
  // No range check here: the engine checks at Start.
  EXPECT_EQ(core_.Start(L"client-9", L"Front Desk", L"239.1.2.3", 1, -2, 3, false, 4, 5, 99999,
                        L"/srv/Gr\u00fc\u00dfe"),
            0);

  EXPECT_EQ(script_->calls.back(),
            L"Start|client-9|Front Desk|239.1.2.3|1|-2|3|0|4|5|99999|/srv/Gr\u00fc\u00dfe");
  EXPECT_TRUE(core_.IsStarted());
}

// --- Status codes and the last error ----------------------------------------

TEST_F(ControlCoreTest, FailureGivesTheCodeAndKeepsTheWideTextExactly) {
  const std::wstring text = L"Gr\u00fc\u00dfe \U0001D11E: port out of range";
  script_->Fail(L"Start", -300, text);

  EXPECT_EQ(StartCore(core_, L"id", L"name"), -300);
  EXPECT_EQ(core_.GetLastError(), text);
  EXPECT_FALSE(core_.IsStarted());
}

TEST_F(ControlCoreTest, CodesAreCutToTheirLow16Bits) {
  EXPECT_EQ(ControlCore::ToStatus(-999), -999);
  EXPECT_EQ(ControlCore::ToStatus(-32768), -32768);
  EXPECT_EQ(ControlCore::ToStatus(32767), 32767);
  EXPECT_EQ(ControlCore::ToStatus(-70000), -4464);  // 0xFFFEEE90 → 0xEE90
  EXPECT_EQ(ControlCore::ToStatus(70000), 4464);    // 0x00011170 → 0x1170
  EXPECT_EQ(ControlCore::ToStatus(0x18000), -32768);

  script_->Fail(L"SendData", -70000, L"far out");
  EXPECT_EQ(core_.SendData(nullptr), -4464);
  EXPECT_EQ(core_.GetLastError(), L"far out");
}

TEST_F(ControlCoreTest, EachStatusMethodEmptiesTheLastErrorFirst) {
  const std::wstring id = L"client-1";
  const std::wstring xml = L"<a/>";
  const std::vector<std::pair<std::wstring, std::function<void()>>> methods = {
      {L"Start", [&] { EXPECT_EQ(StartCore(core_, id, L"name"), 0); }},
      {L"Stop", [&] { EXPECT_EQ(core_.Stop(), 0); }},
      {L"Unregister", [&] { EXPECT_EQ(core_.Unregister(&id), 0); }},
      {L"SendData", [&] { EXPECT_EQ(core_.SendData(&xml), 0); }},
      {L"Register", [&] { EXPECT_EQ(core_.Register(), L"client-1"); }},
  };
  for (const auto& method : methods) {
    SCOPED_TRACE(std::string(method.first.begin(), method.first.end()));
    script_->Fail(L"GetApplications", -5, L"earlier failure");
    EXPECT_TRUE(core_.GetApplications().empty());
    ASSERT_EQ(core_.GetLastError(), L"earlier failure");

    method.second();
    EXPECT_EQ(core_.GetLastError(), L"");
  }
}

TEST_F(ControlCoreTest, RegisterFailureGivesAnEmptyId) {
  script_->Fail(L"Register", -999, L"no engine");
  EXPECT_EQ(core_.Register(), L"");
  EXPECT_EQ(core_.GetLastError(), L"no engine");
}

TEST_F(ControlCoreTest, NullClientIdReturnsAtOnceAndKeepsTheLastError) {
  script_->Fail(L"Stop", -7, L"stop failed");
  ASSERT_EQ(core_.Stop(), -7);
  const auto callsBefore = script_->calls.size();

  EXPECT_EQ(core_.Unregister(nullptr), 0);

  EXPECT_EQ(script_->calls.size(), callsBefore) << "the engine was reached";
  EXPECT_EQ(core_.GetLastError(), L"stop failed");
}

TEST_F(ControlCoreTest, NullXmlSendsAnEmptyText) {
  script_->Fail(L"SendData", -200, L"XML is not valid: empty");
  EXPECT_EQ(core_.SendData(nullptr), -200);
  EXPECT_EQ(script_->calls.back(), L"SendData|");
  EXPECT_EQ(core_.GetLastError(), L"XML is not valid: empty");
}

TEST_F(ControlCoreTest, ExceptionOtherThanTheEnginesBecomesLoadFailureStatus) {
  script_->failures[L"SendData"] =
      std::make_exception_ptr(std::runtime_error("Gr\xc3\xbc\xc3\x9f" "e: out of order"));
  const std::wstring xml = L"<a/>";
  EXPECT_EQ(core_.SendData(&xml), -999);
  EXPECT_EQ(core_.GetLastError(), L"Gr\u00fc\u00dfe: out of order");
  script_->failures[L"Register"] = std::make_exception_ptr(std::bad_alloc());
  EXPECT_EQ(core_.Register(), L"");
  EXPECT_FALSE(core_.GetLastError().empty());
}

// Something thrown that is not even a std::exception must not reach the host
// (it would end the process): it is a failure with a text of its own.
TEST_F(ControlCoreTest, ExceptionOfUnknownTypeBecomesAFailureWithAClearText) {
  const std::exception_ptr odd = std::make_exception_ptr(42);
  for (const wchar_t* operation : {L"Start", L"Stop", L"Unregister", L"SendData"}) {
    script_->failures[operation] = odd;
  }
  const std::wstring text = L"x";
  EXPECT_EQ(StartCore(core_, L"id", L"name"), ControlCore::kInternalFailure);
  EXPECT_EQ(core_.GetLastError(), ControlCore::kUnknownExceptionText);
  EXPECT_EQ(core_.Stop(), -999);
  EXPECT_EQ(core_.Unregister(&text), -999);
  EXPECT_EQ(core_.SendData(&text), -999);
  EXPECT_EQ(core_.GetLastError(), L"The engine failed with an exception of unknown type.");

  script_->failures[L"Register"] = odd;
  script_->failures[L"GetApplications"] = odd;
  EXPECT_EQ(core_.Register(), L"");
  EXPECT_TRUE(core_.GetApplications().empty());
  EXPECT_EQ(core_.GetLastError(), ControlCore::kUnknownExceptionText);

  script_->failures[L"IsStarted"] = odd;
  script_->failures[L"IsHailing"] = odd;
  EXPECT_FALSE(core_.IsStarted());
  EXPECT_FALSE(core_.IsHailing());
}

TEST(ControlCoreListenerTest, ExceptionOfUnknownTypeFromTheListenerCallsIsTolerated) {
  Testing::EngineScript script;
  script.failures[L"SetListener"] = std::make_exception_ptr(42);
  script.failures[L"ClearListener"] = std::make_exception_ptr(std::string("odd"));
  RecordingPoster poster;
  EXPECT_NO_THROW(ControlCore(std::make_unique<Testing::RecordingEngine>(script), poster));
}

TEST_F(ControlCoreTest, StartedAndHailingReadFalseWhenTheEngineCannotAnswer) {
  script_->started = true;
  script_->hailing = true;
  EXPECT_TRUE(core_.IsStarted());
  EXPECT_TRUE(core_.IsHailing());
  script_->Fail(L"Stop", -1, L"kept");
  core_.Stop();

  script_->Fail(L"IsStarted", -999, L"no engine");
  script_->Fail(L"IsHailing", -999, L"no engine");
  EXPECT_FALSE(core_.IsStarted());
  EXPECT_FALSE(core_.IsHailing());
  script_->failures[L"IsStarted"] = std::make_exception_ptr(std::runtime_error("broken"));
  script_->failures[L"IsHailing"] = std::make_exception_ptr(std::runtime_error("broken"));
  EXPECT_FALSE(core_.IsStarted());
  EXPECT_FALSE(core_.IsHailing());
  EXPECT_EQ(core_.GetLastError(), L"kept");
}

// --- Applications -----------------------------------------------------------

TEST_F(ControlCoreTest, ApplicationsAreCopiedInTheEnginesOrder) {
  script_->applications->push_back(
      std::make_shared<FakeApplication>(L"id-c", L"Charlie", L"10.0.0.3", 3));
  script_->applications->push_back(nullptr);
  script_->applications->push_back(
      std::make_shared<FakeApplication>(L"id-a", L"Alpha", L"10.0.0.1", 1));
  script_->applications->push_back(
      std::make_shared<FakeApplication>(L"id-b", L"Bravo \u00e9", L"10.0.0.2", 2));

  const auto records = core_.GetApplications();

  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].id, L"id-c");
  EXPECT_EQ(records[0].name, L"Charlie");
  EXPECT_EQ(records[0].address, L"10.0.0.3");
  EXPECT_EQ(records[0].version, 3);
  EXPECT_EQ(records[1].id, L"id-a");
  EXPECT_EQ(records[2].name, L"Bravo \u00e9");
  EXPECT_EQ(records[2].version, 2);
}

TEST_F(ControlCoreTest, ApplicationsSucceedingKeepThePreviousErrorFailingReplaceIt) {
  script_->Fail(L"Start", -300, L"start text");
  ASSERT_EQ(StartCore(core_, L"id", L"name"), -300);

  EXPECT_TRUE(core_.GetApplications().empty());
  EXPECT_EQ(core_.GetLastError(), L"start text");
  script_->applications = nullptr;  // no list at all: still a success
  EXPECT_TRUE(core_.GetApplications().empty());
  EXPECT_EQ(core_.GetLastError(), L"start text");

  script_->Fail(L"GetApplications", -999, L"applications text");
  EXPECT_TRUE(core_.GetApplications().empty());
  EXPECT_EQ(core_.GetLastError(), L"applications text");
}

TEST_F(ControlCoreTest, ApplicationFailingWhileCopiedGivesAnEmptyList) {
  script_->applications->push_back(
      std::make_shared<FakeApplication>(L"id-a", L"Alpha", L"10.0.0.1", 1));
  auto failing = std::make_shared<FakeApplication>(L"id-b", L"Bravo", L"10.0.0.2", 2);
  failing->FailGetName();
  script_->applications->push_back(failing);

  EXPECT_TRUE(core_.GetApplications().empty());
  EXPECT_EQ(core_.GetLastError(), L"gone while listed");
}

// --- Listener and notifications ---------------------------------------------

TEST(ControlCoreListenerTest, ListenerIsSetAtConstructionAndClearedAtDestruction) {
  auto script = std::make_shared<Testing::EngineScript>();
  RecordingPoster poster;
  {
    ControlCore core(std::make_unique<Testing::RecordingEngine>(*script), poster);
    ASSERT_NE(script->listener, nullptr);
    ASSERT_NE(script->observer, nullptr);
    EXPECT_EQ(script->calls, (std::vector<std::wstring>{L"SetListener", L"SetObserver"}));
    script->listener->OnMessageReceived(L"<a/>");
    ASSERT_EQ(poster.Posted().size(), 1u);
  }
  EXPECT_EQ(script->listener, nullptr);
  EXPECT_EQ(script->observer, nullptr);
  // Cleared, but not stopped.
  EXPECT_EQ(script->calls, (std::vector<std::wstring>{L"SetListener", L"SetObserver",
                                                      L"ClearListener", L"ClearObserver"}));
}

// Every control of a process shares the engine: one listener and observer
// are set for them all, each core gets every notification, and destroying
// one core leaves the others served.
TEST(ControlCoreListenerTest, CoresOfOneEngineEachGetEveryNotification) {
  Testing::EngineScript script;
  std::shared_ptr<Client::Quellor> engine = std::make_shared<Testing::RecordingEngine>(script);
  RecordingPoster firstPoster, secondPoster;
  auto first = std::make_unique<ControlCore>(engine, firstPoster);
  ControlCore second(engine, secondPoster);
  EXPECT_EQ(script.calls, (std::vector<std::wstring>{L"SetListener", L"SetObserver"}));
  ASSERT_NE(script.listener, nullptr);

  script.listener->OnError(-1, L"both");
  script.observer->OnApplicationAdded({L"app-1", L"One", L"127.0.0.1", 2});
  for (RecordingPoster* poster : {&firstPoster, &secondPoster}) {
    const auto posted = poster->Posted();
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[1].kind, Notification::Kind::kApplicationAdded);
    EXPECT_EQ(posted[1].application.id, L"app-1");
    EXPECT_EQ(posted[1].application.version, 2);
  }

  first.reset();
  EXPECT_EQ(script.calls.size(), 2u) << "the listener stays while a core is left";
  ASSERT_NE(script.listener, nullptr);
  script.listener->OnMessageReceived(L"<after/>");
  script.observer->OnApplicationRemoved({L"app-1", L"One", L"127.0.0.1", 2},
                                        Client::DepartureReason::kHealthCheckUnanswered);
  script.observer->OnFileProgress({L"app-1", L"big.bin", 10, 100, false, false, L""});
  EXPECT_EQ(firstPoster.Posted().size(), 2u);
  const auto posted = secondPoster.Posted();
  ASSERT_EQ(posted.size(), 5u);
  EXPECT_EQ(posted[2].text, L"<after/>");
  EXPECT_EQ(posted[3].kind, Notification::Kind::kApplicationRemoved);
  EXPECT_EQ(posted[3].text, L"health check unanswered");
  EXPECT_EQ(posted[4].kind, Notification::Kind::kFileProgress);
  EXPECT_EQ(posted[4].application.id, L"app-1");
  EXPECT_EQ(posted[4].text, L"big.bin");
  EXPECT_EQ(posted[4].bytesReceived, 10);
  EXPECT_EQ(posted[4].bytesAnnounced, 100);
}

// An engine library built before the observer: the listener is set as
// before and the notifications it gives still arrive.
TEST(ControlCoreListenerTest, EngineWithoutObserverStillListens) {
  Testing::EngineScript script;
  script.Fail(L"SetObserver", -999, L"get_SetObserver_method function could not be loaded.");
  script.Fail(L"ClearObserver", -999, L"get_ClearObserver_method function could not be loaded.");
  RecordingPoster poster;
  {
    ControlCore core(std::make_unique<Testing::RecordingEngine>(script), poster);
    EXPECT_FALSE(core.IsObserving());
    ASSERT_NE(script.listener, nullptr);
    script.listener->OnFileReceived(L"/f");
    EXPECT_EQ(poster.Posted().size(), 1u);
  }
  EXPECT_EQ(script.listener, nullptr);
}

// --- Per-application send ---------------------------------------------------

TEST_F(ControlCoreTest, SendDataEachGivesTheEnginesOutcomesAndKeepsSendDatasFailureRules) {
  script_->outcomes = {{L"good", 0, L""}, {L"silent", -111, L"no acknowledgement"}};
  std::vector<Client::SendOutcome> outcomes;
  const std::wstring xml = L"<a/>";
  EXPECT_EQ(core_.SendDataEach(&xml, outcomes), 0);
  ASSERT_EQ(outcomes.size(), 2u);
  EXPECT_EQ(outcomes[1].applicationId, L"silent");
  EXPECT_EQ(outcomes[1].message, L"no acknowledgement");
  EXPECT_EQ(core_.GetLastError(), L"") << "single failures are in their outcomes";
  EXPECT_EQ(script_->calls.back(), L"SendDataEach|<a/>");

  // An invalid document: nothing sent, the status and the last error as for
  // SendData; a null text sends an empty one.
  script_->Fail(L"SendDataEach", -200, L"XML is not valid: parse error");
  EXPECT_EQ(core_.SendDataEach(nullptr, outcomes), -200);
  EXPECT_TRUE(outcomes.empty());
  EXPECT_EQ(core_.GetLastError(), L"XML is not valid: parse error");
  EXPECT_EQ(script_->calls.back(), L"SendDataEach|");
  script_->failures.clear();
  EXPECT_EQ(core_.SendDataEach(&xml, outcomes), 0);
  EXPECT_EQ(core_.GetLastError(), L"") << "emptied first";

  // The engine refuses the document by giving every application -200 with
  // its validity errors: the call fails as SendData does, the errors kept.
  const std::wstring errors = L"XML is not valid: parse error; line 1, column 3: bad";
  script_->outcomes = {{L"good", -200, errors}, {L"silent", -200, errors}};
  EXPECT_EQ(core_.SendDataEach(&xml, outcomes), -200);
  EXPECT_EQ(core_.GetLastError(), errors);
  EXPECT_EQ(outcomes.size(), 2u);
  // One application's -200 among other outcomes is that application's.
  script_->outcomes = {{L"good", 0, L""}, {L"silent", -200, errors}};
  EXPECT_EQ(core_.SendDataEach(&xml, outcomes), 0);
  EXPECT_EQ(core_.GetLastError(), L"");
}

// An engine object without the extension operations (not an ObservableEngine).
TEST(ControlCoreSendEachTest, EngineWithoutTheOperationGivesTheInternalFailure) {
  struct Bare : Client::Quellor {
    explicit Bare(Testing::EngineScript& script) : inner(script) {}
    std::wstring Register() override { return inner.Register(); }
    void Unregister(const std::wstring& id) override { inner.Unregister(id); }
    std::wstring GetConnectorType() override { return inner.GetConnectorType(); }
    void Start(const std::wstring&, const std::wstring&, const std::wstring&, int, int, int, bool,
               int, int, int, const std::wstring&) override {}
    void Stop() override {}
    bool IsStarted() override { return false; }
    void SetListener(Client::QuellorListener* listener) override { inner.SetListener(listener); }
    void ClearListener() override { inner.ClearListener(); }
    bool IsHailing() override { return false; }
    void SendData(const std::wstring& xml) override { inner.SendData(xml); }
    std::shared_ptr<ClientApplicationList> GetApplications() override {
      return inner.GetApplications();
    }
    Testing::RecordingEngine inner;
  };
  Testing::EngineScript script;
  RecordingPoster poster;
  ControlCore core(std::make_unique<Bare>(script), poster);
  std::vector<Client::SendOutcome> outcomes;
  const std::wstring xml = L"<a/>";
  EXPECT_EQ(core.SendDataEach(&xml, outcomes), -999);
  EXPECT_FALSE(core.GetLastError().empty());
  std::vector<Client::ApplicationHealth> health;
  EXPECT_FALSE(core.GetApplicationHealth(health));
  EXPECT_FALSE(core.IsObserving());
  EXPECT_EQ(script.calls, (std::vector<std::wstring>{L"SetListener"}));
}

TEST(ControlCoreListenerTest, ListenerFailuresAreTolerated) {
  auto script = std::make_shared<Testing::EngineScript>();
  script->Fail(L"SetListener", -999, L"no engine");
  script->failures[L"ClearListener"] = std::make_exception_ptr(std::runtime_error("broken"));
  RecordingPoster poster;

  auto core = std::make_unique<ControlCore>(std::make_unique<Testing::RecordingEngine>(*script), poster);
  EXPECT_EQ(core->Stop(), 0);
  EXPECT_NO_THROW(core.reset());
}

TEST(ControlCoreListenerTest, ForeignExceptionFromSetListenerIsTolerated) {
  auto script = std::make_shared<Testing::EngineScript>();
  script->failures[L"SetListener"] = std::make_exception_ptr(std::runtime_error("broken"));
  RecordingPoster poster;
  EXPECT_NO_THROW(ControlCore(std::make_unique<Testing::RecordingEngine>(*script), poster));
}

// A control whose engine library is missing still works as far as it can.
TEST(ControlCoreListenerTest, MissingEngineLibraryReportsTheLoadFailure) {
  Testing::TempDir empty;
  auto proxy = std::make_unique<QuellorProxy>(empty.WidePath() + L"/Quellor.so");
  const std::wstring loadError = proxy->GetLoadError();
  ASSERT_FALSE(loadError.empty());
  RecordingPoster poster;
  ControlCore core(std::move(proxy), poster);
  const std::wstring text = L"<a/>";

  EXPECT_EQ(StartCore(core, L"id", L"name"), -999);
  EXPECT_EQ(core.GetLastError(), loadError);
  EXPECT_EQ(core.Stop(), -999);
  EXPECT_EQ(core.Unregister(&text), -999);
  EXPECT_EQ(core.SendData(&text), -999);
  EXPECT_EQ(core.GetLastError(), loadError);
  EXPECT_EQ(core.Register(), L"");
  EXPECT_TRUE(core.GetApplications().empty());
  EXPECT_FALSE(core.IsStarted());
  EXPECT_FALSE(core.IsHailing());
}

TEST_F(ControlCoreTest, NotificationsArePostedAsCopies) {
  std::thread engineThread([this] {
    std::wstring text = L"disk full \U0001D11E";
    core_.OnError(-70000, text);
    text = L"changed after the call";
    core_.OnMessageReceived(L"<xml/>");
    core_.OnFileReceived(L"/srv/files/a.bin");
  });
  engineThread.join();

  const auto posted = poster_.Posted();
  ASSERT_EQ(posted.size(), 3u);
  EXPECT_EQ(posted[0].kind, Notification::Kind::kError);
  // The number travels whole; it is cut to 16 bits where the event fires.
  EXPECT_EQ(posted[0].number, -70000);
  EXPECT_EQ(posted[0].text, L"disk full \U0001D11E");
  EXPECT_EQ(posted[1].kind, Notification::Kind::kMessageReceived);
  EXPECT_EQ(posted[1].text, L"<xml/>");
  EXPECT_EQ(posted[2].kind, Notification::Kind::kFileReceived);
  EXPECT_EQ(posted[2].text, L"/srv/files/a.bin");
  // Errors on engine threads do not touch the last error.
  EXPECT_EQ(core_.GetLastError(), L"");
}

TEST_F(ControlCoreTest, NotificationThatCannotBePostedIsDropped) {
  poster_.Refuse(std::make_exception_ptr(std::bad_alloc()));
  EXPECT_NO_THROW(core_.OnError(-1, L"lost"));
  poster_.Refuse(std::make_exception_ptr(std::runtime_error("no window")));
  EXPECT_NO_THROW(core_.OnMessageReceived(L"<lost/>"));
  EXPECT_NO_THROW(core_.OnFileReceived(L"/lost"));
  EXPECT_TRUE(poster_.Posted().empty());
}

}  // namespace
}  // namespace Control
}  // namespace Corvane
