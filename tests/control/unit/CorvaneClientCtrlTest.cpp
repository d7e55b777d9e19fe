// The control as a GObject over an in-process recording engine: what its
// properties notify, what Start hands to the engine, and how started and
// hailing follow the engine.

#include "control/CorvaneClientCtrl.h"

#include <glib-object.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "control/CorvaneClientCtrlInternal.h"
#include "interface/QuellorSettings.h"
#include "support/Eventually.h"
#include "tests/control/fakes/RecordingEngine.h"

namespace Corvane {
namespace Control {
namespace {

namespace Settings = Client::Settings;

class CorvaneClientCtrlTest : public ::testing::Test {
 protected:
  CorvaneClientCtrlTest() : control_(corvane_client_ctrl_new()) {
    UseEngineForTesting(control_, std::make_unique<Testing::RecordingEngine>(script_));
    SetStatePollInterval(control_, 5);
    g_signal_connect(control_, "notify", G_CALLBACK(+[](GObject*, GParamSpec* pspec, gpointer data) {
                       ++(*static_cast<std::map<std::string, int>*>(data))[pspec->name];
                     }),
                     &notified_);
  }
  ~CorvaneClientCtrlTest() override { g_object_unref(control_); }

  // Iterates the default context (the control's) until `condition` holds.
  template <typename Condition>
  bool IterateUntil(Condition condition) {
    return Testing::Eventually([&] {
      while (g_main_context_iteration(nullptr, FALSE)) {
      }
      return condition();
    });
  }

  Testing::EngineScript script_;
  CorvaneClientCtrl* control_;
  std::map<std::string, int> notified_;
};

TEST_F(CorvaneClientCtrlTest, DefaultsAreTheSettingsTable) {
  auto defaultOf = [&](const char* name) {
    GParamSpec* spec = g_object_class_find_property(G_OBJECT_GET_CLASS(control_), name);
    return G_PARAM_SPEC_INT(spec)->default_value;
  };
  EXPECT_EQ(defaultOf("group-port"), Settings::kGroupPort.defaultValue);
  EXPECT_EQ(defaultOf("server-port"), Settings::kServerPort.defaultValue);
  EXPECT_EQ(defaultOf("hailing-interval"), Settings::kHailingInterval.defaultValue);
  EXPECT_EQ(defaultOf("ack-timeout"), Settings::kAckTimeout.defaultValue);
  EXPECT_EQ(defaultOf("health-check-interval"), Settings::kHealthCheckInterval.defaultValue);
  EXPECT_EQ(defaultOf("file-port"), Settings::kFilePort.defaultValue);
  gint port = 0;
  g_object_get(control_, "group-port", &port, nullptr);
  EXPECT_EQ(port, 45599);
}

TEST_F(CorvaneClientCtrlTest, AStoredPropertyNotifiesOnlyWhenItsValueChanges) {
  g_object_set(control_, "group-port", 45599, "file-directory", nullptr, nullptr);
  EXPECT_EQ(notified_["group-port"], 0);
  EXPECT_EQ(notified_["file-directory"], 1);  // null reads as empty, a change

  g_object_set(control_, "group-port", 1, "group-address", "239.0.0.1", nullptr);
  g_object_set(control_, "group-port", 1, "group-address", "239.0.0.1", nullptr);
  EXPECT_EQ(notified_["group-port"], 1);
  EXPECT_EQ(notified_["group-address"], 1);
  EXPECT_EQ(notified_["server-port"], 0);

  corvane_client_ctrl_reset_properties(control_);
  EXPECT_EQ(notified_["group-port"], 2);
  EXPECT_EQ(notified_["server-port"], 0);
}

TEST_F(CorvaneClientCtrlTest, EverySetterCallWhileStoppedMarksModified) {
  EXPECT_FALSE(corvane_client_ctrl_get_modified(control_));
  // The same value as before: nothing to notify, but something to save.
  g_object_set(control_, "group-port", 45599, nullptr);
  EXPECT_TRUE(corvane_client_ctrl_get_modified(control_));
  EXPECT_EQ(notified_["group-port"], 0);
  gchar* data = corvane_client_ctrl_save_to_data(control_, nullptr);
  g_free(data);
  EXPECT_FALSE(corvane_client_ctrl_get_modified(control_));
  for (const char* name : {"group-address", "file-directory"}) {
    g_object_set(control_, name, "x", nullptr);
    EXPECT_TRUE(corvane_client_ctrl_get_modified(control_)) << name;
    data = corvane_client_ctrl_save_to_data(control_, nullptr);
    g_free(data);
    g_object_set(control_, name, "x", nullptr);
    EXPECT_TRUE(corvane_client_ctrl_get_modified(control_)) << name;
    data = corvane_client_ctrl_save_to_data(control_, nullptr);
    g_free(data);
  }
  g_object_set(control_, "using-hailing-server", TRUE, nullptr);
  EXPECT_TRUE(corvane_client_ctrl_get_modified(control_));

  // Ignored while started: not modified.
  data = corvane_client_ctrl_save_to_data(control_, nullptr);
  g_free(data);
  ASSERT_EQ(corvane_client_ctrl_start(control_, "id", "name"), 0);
  g_object_set(control_, "group-port", 1, nullptr);
  EXPECT_FALSE(corvane_client_ctrl_get_modified(control_));
}

TEST_F(CorvaneClientCtrlTest, IntegersOutsideAnyRangeReachTheEngineWhichRefusesThem) {
  g_object_set(control_, "group-port", G_MAXINT, "server-port", G_MININT, "ack-timeout", -1,
               nullptr);
  gint port = 0;
  g_object_get(control_, "group-port", &port, nullptr);
  EXPECT_EQ(port, G_MAXINT);
  script_.Fail(L"Start", -119, L"Group port is out of range");

  EXPECT_EQ(corvane_client_ctrl_start(control_, "id", "name"), -119);
  std::wstring start;
  for (const auto& call : script_.calls) {
    if (call.rfind(L"Start|", 0) == 0) start = call;
  }
  EXPECT_NE(start.find(L"|2147483647|-2147483648|15000|1|-1|"), std::wstring::npos);
  EXPECT_EQ(notified_["started"], 0);
}

TEST_F(CorvaneClientCtrlTest, StartAndStopNotifyStartedAndHailing) {
  script_.hailing = true;
  ASSERT_EQ(corvane_client_ctrl_start(control_, "id", "name"), 0);
  EXPECT_EQ(notified_["started"], 1);
  EXPECT_EQ(notified_["hailing"], 1);

  // Writes are ignored, and not notified, while started.
  g_object_set(control_, "group-port", 7, nullptr);
  EXPECT_EQ(notified_["group-port"], 0);
  EXPECT_FALSE(corvane_client_ctrl_get_modified(control_));

  script_.hailing = false;
  ASSERT_EQ(corvane_client_ctrl_stop(control_), 0);
  EXPECT_EQ(notified_["started"], 2);
  EXPECT_EQ(notified_["hailing"], 2);
  EXPECT_FALSE(corvane_client_ctrl_get_started(control_));
  EXPECT_EQ(notified_["started"], 2);  // reading does not notify again
}

TEST_F(CorvaneClientCtrlTest, ChangesNobodyAnnouncedAreNoticedWhileStarted) {
  ASSERT_EQ(corvane_client_ctrl_start(control_, "id", "name"), 0);
  script_.hailing = true;
  EXPECT_TRUE(IterateUntil([&] { return notified_["hailing"] == 1; }));
  // Hailing ends on its own.
  script_.hailing = false;
  EXPECT_TRUE(IterateUntil([&] { return notified_["hailing"] == 2; }));
  // Another control stops the shared engine.
  script_.started = false;
  EXPECT_TRUE(IterateUntil([&] { return notified_["started"] == 2; }));
  gboolean started = TRUE;
  g_object_get(control_, "started", &started, nullptr);
  EXPECT_FALSE(started);
}

// All controls share the engine: one control's Start and Stop reach the
// others' started notifications.
TEST_F(CorvaneClientCtrlTest, AnotherControlsStartAndStopAreNotifiedHere) {
  SetStatePollInterval(control_, 60000);
  CorvaneClientCtrl* other = corvane_client_ctrl_new();
  UseEngineForTesting(other, std::make_unique<Testing::RecordingEngine>(script_));
  ASSERT_EQ(corvane_client_ctrl_start(other, "id", "name"), 0);
  EXPECT_TRUE(IterateUntil([&] { return notified_["started"] == 1; }));
  ASSERT_EQ(corvane_client_ctrl_stop(other), 0);
  EXPECT_TRUE(IterateUntil([&] { return notified_["started"] == 2; }));
  g_object_unref(other);
}

TEST_F(CorvaneClientCtrlTest, AnErrorNotificationRereadsTheEnginesState) {
  ASSERT_EQ(corvane_client_ctrl_start(control_, "id", "name"), 0);
  SetStatePollInterval(control_, 60000);
  bool errored = false;
  g_signal_connect(control_, "error-occured",
                   G_CALLBACK(+[](CorvaneClientCtrl*, gint, const gchar*, gpointer data) {
                     *static_cast<bool*>(data) = true;
                   }),
                   &errored);
  script_.started = false;
  ASSERT_NE(script_.listener, nullptr);
  script_.listener->OnError(-301, L"service failed");
  EXPECT_TRUE(IterateUntil([&] { return errored; }));
  EXPECT_EQ(notified_["started"], 2);
}

// --- Applications, progress and per-application sends ---------------------

// The ids of a list of applications: of the model, or of get_applications().
std::vector<std::string> IdsOf(GListModel* model) {
  std::vector<std::string> ids;
  for (guint i = 0; i < g_list_model_get_n_items(model); ++i) {
    auto* application = static_cast<CorvaneClientApplication*>(g_list_model_get_item(model, i));
    ids.emplace_back(corvane_client_application_get_id(application));
    g_object_unref(application);
  }
  return ids;
}

std::vector<std::string> IdsOf(GPtrArray* applications) {
  std::vector<std::string> ids;
  for (guint i = 0; i < applications->len; ++i) {
    ids.emplace_back(corvane_client_application_get_id(
        static_cast<CorvaneClientApplication*>(g_ptr_array_index(applications, i))));
  }
  g_ptr_array_unref(applications);
  return ids;
}

// What one control's new signals delivered, as text.
struct Heard {
  std::vector<std::string> events;
  static void Listen(CorvaneClientCtrl* control, Heard* heard) {
    g_signal_connect(control, "application-added",
                     G_CALLBACK(+[](CorvaneClientCtrl*, CorvaneClientApplication* a, gpointer d) {
                       static_cast<Heard*>(d)->events.push_back(
                           std::string("added ") + corvane_client_application_get_id(a));
                     }),
                     heard);
    g_signal_connect(control, "application-removed",
                     G_CALLBACK(+[](CorvaneClientCtrl*, const gchar* id, const gchar* reason,
                                    gpointer d) {
                       static_cast<Heard*>(d)->events.push_back(std::string("removed ") + id +
                                                                " " + reason);
                     }),
                     heard);
    g_signal_connect(control, "file-progress",
                     G_CALLBACK(+[](CorvaneClientCtrl*, const gchar* id, const gchar* name,
                                    gint64 received, gint64 announced, gpointer d) {
                       static_cast<Heard*>(d)->events.push_back(
                           std::string("progress ") + id + " " + name + " " +
                           std::to_string(received) + "/" + std::to_string(announced));
                     }),
                     heard);
    g_signal_connect(control, "message-received",
                     G_CALLBACK(+[](CorvaneClientCtrl*, const gchar* xml, gpointer d) {
                       static_cast<Heard*>(d)->events.push_back(std::string("message ") + xml);
                     }),
                     heard);
  }
};

// The engine's list as GetApplications gives it, kept with what the observer
// is told, as a real engine keeps both.
class ApplicationsTest : public CorvaneClientCtrlTest {
 protected:
  ApplicationsTest() {
    UseEngineForTesting(control_, engine_);
    Heard::Listen(control_, &heard_);
  }

  void Add(const std::wstring& id) {
    script_.applications->push_back(std::make_shared<Application>(id));
    Client::ApplicationHealth health;
    health.application = {id, L"Name of " + id, L"127.0.0.1", 2};
    script_.health.push_back(health);
    if (script_.observer) script_.observer->OnApplicationAdded(health.application);
  }
  void Remove(const std::wstring& id, Client::DepartureReason reason) {
    auto& list = *script_.applications;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const auto& a) { return a->GetId() == id; }),
               list.end());
    script_.health.erase(std::remove_if(script_.health.begin(), script_.health.end(),
                                        [&](const auto& h) { return h.application.id == id; }),
                         script_.health.end());
    if (script_.observer) script_.observer->OnApplicationRemoved({id, L"", L"", 2}, reason);
  }
  GListModel* Model(CorvaneClientCtrl* control) {
    return corvane_client_ctrl_get_applications_model(control);
  }
  bool ModelMatchesEngine(CorvaneClientCtrl* control) {
    return IterateUntil([&] {
      return IdsOf(Model(control)) == IdsOf(corvane_client_ctrl_get_applications(control));
    });
  }

  struct Application : Client::ClientApplication {
    explicit Application(std::wstring id) : id_(std::move(id)) {}
    std::wstring GetAddress() override { return L"127.0.0.1"; }
    std::wstring GetId() override { return id_; }
    std::wstring GetName() override { return L"Name of " + id_; }
    int GetVersion() override { return 2; }
    std::wstring id_;
  };

  std::shared_ptr<Client::Quellor> engine_ = std::make_shared<Testing::RecordingEngine>(script_);
  Heard heard_;
};

TEST_F(ApplicationsTest, TheModelFollowsApplicationsComingAndGoing) {
  GObject* model = nullptr;
  g_object_get(control_, "applications", &model, nullptr);
  EXPECT_EQ(G_LIST_MODEL(model), Model(control_));
  g_object_unref(model);
  EXPECT_EQ(g_list_model_get_item_type(Model(control_)), CORVANE_CLIENT_TYPE_APPLICATION);

  ASSERT_EQ(corvane_client_ctrl_start(control_, "id", "name"), 0);
  Add(L"a");
  Add(L"b");
  EXPECT_TRUE(ModelMatchesEngine(control_));
  EXPECT_EQ(IdsOf(Model(control_)), (std::vector<std::string>{"a", "b"}));
  // Replaced by a reconnect: removed, then added again under the same id.
  Remove(L"a", Client::DepartureReason::kReplaced);
  Add(L"a");
  Remove(L"b", Client::DepartureReason::kAcknowledgementTimeout);
  EXPECT_TRUE(ModelMatchesEngine(control_));
  EXPECT_EQ(IdsOf(Model(control_)), (std::vector<std::string>{"a"}));
  EXPECT_EQ(heard_.events,
            (std::vector<std::string>{"added a", "added b", "removed a replaced", "added a",
                                      "removed b acknowledgement timeout"}));
  auto* application = static_cast<CorvaneClientApplication*>(g_list_model_get_item(Model(control_), 0));
  EXPECT_STREQ(corvane_client_application_get_name(application), "Name of a");
  EXPECT_EQ(corvane_client_application_get_version(application), 2);
  g_object_unref(application);

  // The engine stops: the model empties with it.
  script_.started = false;
  script_.applications->clear();
  script_.health.clear();
  EXPECT_TRUE(IterateUntil([&] { return g_list_model_get_n_items(Model(control_)) == 0; }));
}

TEST_F(ApplicationsTest, AControlCreatedBesideARunningEngineStartsWithItsApplications) {
  ASSERT_EQ(corvane_client_ctrl_start(control_, "id", "name"), 0);
  Add(L"a");
  Add(L"b");
  CorvaneClientCtrl* late = corvane_client_ctrl_new();
  UseEngineForTesting(late, engine_);
  EXPECT_EQ(IdsOf(Model(late)), (std::vector<std::string>{"a", "b"}));
  g_object_unref(late);
}

// Two controls of one engine both hear every notification; destroying one
// leaves the other served, and the engine's listener stays set.
TEST_F(ApplicationsTest, TwoControlsEachGetEveryEventAndOneGoingLeavesTheOther) {
  CorvaneClientCtrl* other = corvane_client_ctrl_new();
  UseEngineForTesting(other, engine_);
  Heard otherHeard;
  Heard::Listen(other, &otherHeard);
  ASSERT_EQ(corvane_client_ctrl_start(control_, "id", "name"), 0);

  Add(L"a");
  script_.listener->OnMessageReceived(L"<m/>");
  script_.observer->OnFileProgress({L"a", L"f.bin", 5, 10, false, false, L""});
  const std::vector<std::string> expected = {"added a", "message <m/>", "progress a f.bin 5/10"};
  EXPECT_TRUE(IterateUntil([&] { return heard_.events.size() == 3 && otherHeard.events.size() == 3; }));
  EXPECT_EQ(heard_.events, expected);
  EXPECT_EQ(otherHeard.events, expected);
  EXPECT_TRUE(ModelMatchesEngine(other));

  g_object_unref(other);
  ASSERT_NE(script_.listener, nullptr);
  ASSERT_NE(script_.observer, nullptr);
  Remove(L"a", Client::DepartureReason::kHealthCheckUnanswered);
  script_.listener->OnMessageReceived(L"<after/>");
  EXPECT_TRUE(IterateUntil([&] { return heard_.events.size() == 5; }));
  EXPECT_EQ(heard_.events[3], "removed a health check unanswered");
  EXPECT_EQ(heard_.events[4], "message <after/>");
  EXPECT_EQ(otherHeard.events.size(), 3u);
}

TEST_F(ApplicationsTest, HealthIsReadWhileStartedAndNotifiedWhenItChanges) {
  ASSERT_EQ(corvane_client_ctrl_start(control_, "id", "name"), 0);
  Add(L"a");
  ASSERT_TRUE(ModelMatchesEngine(control_));
  auto* application = static_cast<CorvaneClientApplication*>(g_list_model_get_item(Model(control_), 0));
  EXPECT_EQ(corvane_client_application_get_round_trip(application), -1);
  EXPECT_EQ(corvane_client_application_get_connected_since(application), nullptr);
  std::map<std::string, int> notified;
  g_signal_connect(application, "notify",
                   G_CALLBACK(+[](GObject*, GParamSpec* pspec, gpointer data) {
                     ++(*static_cast<std::map<std::string, int>*>(data))[pspec->name];
                   }),
                   &notified);

  auto& health = script_.health[0];
  health.connectedSince = std::chrono::system_clock::time_point(std::chrono::seconds(1700000000));
  health.lastFrameReceived = health.connectedSince + std::chrono::microseconds(2500);
  health.healthCheckRoundTrip = std::chrono::microseconds(830);
  health.acknowledgementsMissed = 1;
  health.xmlReceived = 3;
  health.filesReceived = 2;
  health.bytesReceived = 1u << 20;
  EXPECT_TRUE(IterateUntil([&] { return notified["bytes-received"] == 1; }));
  EXPECT_EQ(corvane_client_application_get_round_trip(application), 830);
  EXPECT_EQ(corvane_client_application_get_acks_missed(application), 1u);
  EXPECT_EQ(corvane_client_application_get_messages_received(application), 3u);
  EXPECT_EQ(corvane_client_application_get_files_received(application), 2u);
  GDateTime* since = corvane_client_application_get_connected_since(application);
  ASSERT_NE(since, nullptr);
  EXPECT_EQ(g_date_time_to_unix(since), 1700000000);
  g_date_time_unref(since);
  GDateTime* seen = nullptr;
  g_object_get(application, "last-seen", &seen, nullptr);
  ASSERT_NE(seen, nullptr);
  EXPECT_EQ(g_date_time_get_microsecond(seen), 2500);
  g_date_time_unref(seen);

  // Unchanged health is not notified again.
  const auto before = notified;
  for (int polls = 0; polls < 5; ++polls) {
    g_usleep(6000);
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
  }
  EXPECT_EQ(notified, before);
  g_object_unref(application);
}

TEST_F(CorvaneClientCtrlTest, SendDataEachGivesAnOutcomeObjectPerApplication) {
  script_.outcomes = {{L"good", 0, L""},
                      {L"silent", -111, L"no acknowledgement"},
                      {L"reset", -110, L"connection ended"}};
  gint16 status = 1;
  GPtrArray* outcomes = corvane_client_ctrl_send_data_each(control_, "<a/>", &status);
  EXPECT_EQ(status, 0);
  ASSERT_EQ(outcomes->len, 3u);
  auto* silent = static_cast<CorvaneClientSendOutcome*>(g_ptr_array_index(outcomes, 1));
  EXPECT_STREQ(corvane_client_send_outcome_get_application_id(silent), "silent");
  EXPECT_EQ(corvane_client_send_outcome_get_status(silent), -111);
  gchar* message = nullptr;
  g_object_get(silent, "message", &message, nullptr);
  EXPECT_STREQ(message, "no acknowledgement");
  g_free(message);
  g_ptr_array_unref(outcomes);

  script_.Fail(L"SendDataEach", -200, L"XML is not valid: parse error");
  outcomes = corvane_client_ctrl_send_data_each(control_, "<a", nullptr);
  EXPECT_EQ(outcomes->len, 0u);
  g_ptr_array_unref(outcomes);
  outcomes = corvane_client_ctrl_send_data_each(control_, "<a", &status);
  EXPECT_EQ(status, -200);
  g_ptr_array_unref(outcomes);
  gchar* text = corvane_client_ctrl_get_last_error_message(control_);
  EXPECT_STREQ(text, "XML is not valid: parse error");
  g_free(text);
}

// A status method called on something that is not a control fails, with
// GLib's critical, instead of answering success.
TEST(CorvaneClientCtrlMisuseTest, StatusMethodsOnANonControlFailWithACritical) {
  int criticals = 0;
  const guint handler = g_log_set_handler(
      nullptr, G_LOG_LEVEL_CRITICAL,
      [](const gchar*, GLogLevelFlags, const gchar*, gpointer count) { ++*static_cast<int*>(count); },
      &criticals);
  GObject* other = static_cast<GObject*>(g_object_new(G_TYPE_OBJECT, nullptr));
  for (CorvaneClientCtrl* self : {static_cast<CorvaneClientCtrl*>(nullptr),
                                  reinterpret_cast<CorvaneClientCtrl*>(other)}) {
    EXPECT_EQ(corvane_client_ctrl_start(self, "id", "name"), -999);
    EXPECT_EQ(corvane_client_ctrl_stop(self), -999);
    EXPECT_EQ(corvane_client_ctrl_unregister(self, "id"), -999);
    EXPECT_EQ(corvane_client_ctrl_send_data(self, "<a/>"), -999);
  }
  g_log_remove_handler(nullptr, handler);
  g_object_unref(other);
  EXPECT_EQ(criticals, 8);
}

// An engine operation that throws something of unknown type fails the
// method; the host process goes on.
TEST_F(CorvaneClientCtrlTest, EngineThrowingAnUnknownTypeFailsTheMethod) {
  script_.failures[L"SendData"] = std::make_exception_ptr(42);
  EXPECT_EQ(corvane_client_ctrl_send_data(control_, "<a/>"), -999);
  gchar* text = corvane_client_ctrl_get_last_error_message(control_);
  EXPECT_STREQ(text, "The engine failed with an exception of unknown type.");
  g_free(text);
}

// The signal carries the engine's number cut to its low 16 bits, read as
// signed; the text whole.
TEST_F(CorvaneClientCtrlTest, ErrorNumbersOutsideSixteenBitsArriveTruncatedInTheSignal) {
  using Errors = std::vector<std::pair<gint, std::string>>;
  Errors errors;
  g_signal_connect(control_, "error-occured",
                   G_CALLBACK(+[](CorvaneClientCtrl*, gint number, const gchar* text, gpointer data) {
                     static_cast<Errors*>(data)->emplace_back(number, text);
                   }),
                   &errors);
  ASSERT_NE(script_.listener, nullptr);
  script_.listener->OnError(0x12345, L"above");
  script_.listener->OnError(-70000, L"below");
  script_.listener->OnError(40000, L"high bit");
  script_.listener->OnError(-100, L"in range");
  EXPECT_TRUE(IterateUntil([&] { return errors.size() == 4; }));
  const Errors expected = {
      {0x2345, "above"}, {-4464, "below"}, {-25536, "high bit"}, {-100, "in range"}};
  EXPECT_EQ(errors, expected);
}

}  // namespace
}  // namespace Control
}  // namespace Corvane
