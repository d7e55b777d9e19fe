// The control as a GObject over an in-process recording engine: what its
// properties notify, what Start hands to the engine, and how started and
// hailing follow the engine.

#include "control/CorvaneClientCtrl.h"

#include <glib-object.h>
#include <gtest/gtest.h>

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
