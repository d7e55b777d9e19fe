// The control through its C API, as a C or C++ host uses it: CorvaneClient.so
// linked, Quellor.so loaded by the control from beside it, and vendor
// applications played by test peers on loopback. Signals must arrive only on
// the thread that iterates the control's main context, and a control dropped
// with notifications still queued must free them without delivering any.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "control/CorvaneClientApplication.h"
#include "control/CorvaneClientCtrl.h"
#include "control/host/ControlOnContextTest.h"
#include "platform/TextConversion.h"
#include "protocol/BinaryDataAckMessage.h"
#include "protocol/VersionAckMessage.h"
#include "protocol/VersionMessage.h"
#include "protocol/XmlDataAckMessage.h"
#include "protocol/XmlDataMessage.h"
#include "support/FreePort.h"
#include "support/TempDir.h"
#include "support/TestPeer.h"

namespace Corvane {
namespace Testing {
namespace {

using namespace std::chrono_literals;

// What the control's signals delivered, and on which threads.
struct Received {
  std::vector<std::string> messages;
  std::vector<std::string> files;
  std::vector<std::pair<int, std::string>> errors;
  std::vector<std::thread::id> threads;

  static void OnMessage(CorvaneClientCtrl*, const gchar* xml, gpointer self) {
    static_cast<Received*>(self)->messages.emplace_back(xml);
    static_cast<Received*>(self)->threads.push_back(std::this_thread::get_id());
  }
  static void OnFile(CorvaneClientCtrl*, const gchar* path, gpointer self) {
    static_cast<Received*>(self)->files.emplace_back(path);
    static_cast<Received*>(self)->threads.push_back(std::this_thread::get_id());
  }
  static void OnError(CorvaneClientCtrl*, gint number, const gchar* text, gpointer self) {
    static_cast<Received*>(self)->errors.emplace_back(number, text);
    static_cast<Received*>(self)->threads.push_back(std::this_thread::get_id());
  }

  void ConnectTo(CorvaneClientCtrl* ctrl) {
    g_signal_connect(ctrl, "message-received", G_CALLBACK(OnMessage), this);
    g_signal_connect(ctrl, "file-received", G_CALLBACK(OnFile), this);
    g_signal_connect(ctrl, "error-occured", G_CALLBACK(OnError), this);
  }
};

// A control created on the test thread with a context of its own as the
// thread-default one, so nothing runs it unless the test iterates it.
class ControlEndToEndTest : public ControlOnContextTest {
 protected:
  void SetUp() override {
    ControlOnContextTest::SetUp();
    received_.ConnectTo(ctrl_);
  }

  // Waits until a notification is queued on the control's context, without
  // running it.
  bool WaitForPending() {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!g_main_context_pending(context_)) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(1ms);
    }
    return true;
  }

  // Sends one XMLDATA and waits for its XMLACK, which the engine writes
  // before it tells the control.
  void SendXml(TestPeer& peer, const std::u16string& xml) {
    Client::XmlDataMessage message(xml);
    peer.Send(message);
    auto ack = peer.WaitFor<Client::XmlDataAckMessage>();
    ASSERT_TRUE(ack);
  }

  Received received_;
};

TEST_F(ControlEndToEndTest, EventsWaitForTheCreatingThreadToIterate) {
  Start();
  auto peer = Connect(u"vendor-1");
  SendXml(*peer, u"<one/>");
  {
    TestPeer sender(file_port_);
    ASSERT_TRUE(sender.HandShake(u"file-sender", u"Vendor"));
    sender.SendBinaryData(u"data.bin", "payload");
    ASSERT_TRUE(sender.WaitFor<Client::BinaryDataAckMessage>());
  }
  TestPeer(server_port_).SendRaw(std::u16string(137, u'#'));

  // Posted, not delivered: this thread has not iterated the context.
  ASSERT_TRUE(WaitForPending());
  EXPECT_TRUE(received_.messages.empty());

  ASSERT_TRUE(IterateUntil([&] {
    return !received_.messages.empty() && !received_.files.empty() && !received_.errors.empty();
  }));
  EXPECT_EQ(received_.messages, std::vector<std::string>{"<one/>"});
  EXPECT_EQ(received_.files, std::vector<std::string>{(dir_ / "files" / "data.bin").string()});
  EXPECT_EQ(received_.errors[0].first, -100);
  for (auto id : received_.threads) EXPECT_EQ(id, std::this_thread::get_id());
}

// Writing a read-only property is refused with GLib's warning; the value
// stays. The warning is caught here so that it does not end the test.
void ExpectReadOnly(GObject* object, const char* name, const GValue* attempt) {
  GParamSpec* spec = g_object_class_find_property(G_OBJECT_GET_CLASS(object), name);
  ASSERT_NE(spec, nullptr) << name;
  EXPECT_FALSE(spec->flags & G_PARAM_WRITABLE) << name;
  GValue before = G_VALUE_INIT;
  g_object_get_property(object, name, &before);
  int warnings = 0;
  const guint handler = g_log_set_handler(
      "GLib-GObject", static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL),
      [](const gchar*, GLogLevelFlags, const gchar*, gpointer count) { ++*static_cast<int*>(count); },
      &warnings);
  g_object_set_property(object, name, attempt);
  g_log_remove_handler("GLib-GObject", handler);
  EXPECT_EQ(warnings, 1) << name;
  GValue after = G_VALUE_INIT;
  g_object_get_property(object, name, &after);
  EXPECT_EQ(g_param_values_cmp(spec, &before, &after), 0) << name;
  g_value_unset(&before);
  g_value_unset(&after);
}

TEST_F(ControlEndToEndTest, ThreeApplicationsComeAsReadOnlyObjectsInTheEnginesOrder) {
  GPtrArray* none = corvane_client_ctrl_get_applications(ctrl_);
  EXPECT_EQ(none->len, 0u);
  g_ptr_array_unref(none);

  Start();
  auto first = Connect(u"vendor-1");
  auto second = Connect(u"vendor-2");
  auto third = Connect(u"vendor-3");
  // The second announces protocol version 2.
  Client::VersionMessage announcement(2);
  second->Send(announcement);
  ASSERT_TRUE(second->WaitFor<Client::VersionAckMessage>());

  GPtrArray* applications = nullptr;
  ASSERT_TRUE(IterateUntil([&] {
    if (applications) g_ptr_array_unref(applications);
    applications = corvane_client_ctrl_get_applications(ctrl_);
    return applications->len == 3 &&
           corvane_client_application_get_version(
               CORVANE_CLIENT_APPLICATION(g_ptr_array_index(applications, 1))) == 2;
  }));
  const struct {
    const char* id;
    const char* name;
    int version;
  } expected[] = {{"vendor-1", "Vendor vendor-1", 1},
                  {"vendor-2", "Vendor vendor-2", 2},
                  {"vendor-3", "Vendor vendor-3", 1}};
  for (guint i = 0; i < applications->len; ++i) {
    SCOPED_TRACE(i);
    auto* application = CORVANE_CLIENT_APPLICATION(g_ptr_array_index(applications, i));
    EXPECT_STREQ(corvane_client_application_get_id(application), expected[i].id);
    EXPECT_STREQ(corvane_client_application_get_name(application), expected[i].name);
    EXPECT_STREQ(corvane_client_application_get_address(application), "127.0.0.1");
    EXPECT_EQ(corvane_client_application_get_version(application), expected[i].version);
    gchar* id = nullptr;
    gint version = 0;
    g_object_get(application, "id", &id, "version", &version, nullptr);
    EXPECT_STREQ(id, expected[i].id);
    EXPECT_EQ(version, expected[i].version);
    g_free(id);

    GValue text = G_VALUE_INIT;
    g_value_init(&text, G_TYPE_STRING);
    g_value_set_string(&text, "written");
    for (const char* name : {"id", "name", "address"}) {
      ExpectReadOnly(G_OBJECT(application), name, &text);
    }
    g_value_unset(&text);
    GValue number = G_VALUE_INIT;
    g_value_init(&number, G_TYPE_INT);
    g_value_set_int(&number, 9);
    ExpectReadOnly(G_OBJECT(application), "version", &number);
  }
  g_ptr_array_unref(applications);
}

TEST_F(ControlEndToEndTest, DroppedWithNotificationsQueuedDeliversNothing) {
  Start();
  auto peer = Connect(u"vendor-1");
  for (int i = 0; i < 50; ++i) SendXml(*peer, u"<n>" + Platform::ToUtf16(std::to_wstring(i)) + u"</n>");
  EXPECT_EQ(corvane_client_ctrl_stop(ctrl_), 0);
  g_object_unref(ctrl_);
  ctrl_ = nullptr;
  // The control's queued notifications went with it.
  EXPECT_FALSE(g_main_context_pending(context_));
  while (g_main_context_iteration(context_, FALSE)) {
  }
  EXPECT_TRUE(received_.messages.empty());
}

TEST_F(ControlEndToEndTest, DroppedWhileEngineThreadsStillDeliver) {
  Start();
  auto peer = Connect(u"vendor-1");
  // The peer keeps sending while the control goes away underneath it.
  std::thread sender([&] {
    for (int i = 0; i < 200; ++i) {
      Client::XmlDataMessage message(u"<burst/>");
      peer->Send(message);
    }
  });
  ASSERT_TRUE(WaitForPending());
  g_object_unref(ctrl_);
  ctrl_ = nullptr;
  sender.join();
  while (g_main_context_iteration(context_, FALSE)) {
  }
  EXPECT_TRUE(received_.messages.empty());
}

}  // namespace
}  // namespace Testing
}  // namespace Corvane
