#pragma once
// A control as a host creates it: on a GLib main context of the test's own,
// made the thread's default before the control, so that its signals are
// emitted when the test iterates that context. The engine behind it listens
// on fresh loopback ports, without hailing, and stores files in the test's
// directory; vendor applications are played by test peers.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "control/CorvaneClientCtrl.h"
#include "support/FreePort.h"
#include "support/TempDir.h"
#include "support/TestPeer.h"

namespace Corvane {
namespace Testing {

class ControlOnContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    context_ = g_main_context_new();
    g_main_context_push_thread_default(context_);
    ctrl_ = corvane_client_ctrl_new();
    // The engine is the process's: a test before may have left it running
    // (one that drops its control while started), with other ports.
    if (corvane_client_ctrl_get_started(ctrl_)) corvane_client_ctrl_stop(ctrl_);
    g_object_set(ctrl_, "server-port", server_port_, "file-port", file_port_,
                 "using-hailing-server", FALSE, "ack-timeout", ack_timeout_, "file-directory",
                 (dir_ / "files").c_str(), nullptr);
  }

  void TearDown() override {
    if (ctrl_) {
      corvane_client_ctrl_stop(ctrl_);
      g_object_unref(ctrl_);
    }
    while (g_main_context_iteration(context_, FALSE)) {
    }
    g_main_context_pop_thread_default(context_);
    g_main_context_unref(context_);
  }

  void Start() {
    ASSERT_EQ(corvane_client_ctrl_start(ctrl_, "client-1", "Client"), 0) << LastError();
  }

  std::string LastError() {
    gchar* text = corvane_client_ctrl_get_last_error_message(ctrl_);
    std::string copy(text);
    g_free(text);
    return copy;
  }

  // Iterates the control's context until `condition` holds or time is up.
  template <typename Condition>
  bool IterateUntil(Condition condition,
                    std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      if (!g_main_context_iteration(context_, FALSE)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    }
    return true;
  }

  // A vendor application hand-shaken as `id`, named "Vendor <id>".
  std::unique_ptr<TestPeer> Connect(const std::u16string& id) {
    auto peer = std::make_unique<TestPeer>(server_port_);
    EXPECT_TRUE(peer->HandShake(id, u"Vendor " + id));
    return peer;
  }

  TempDir dir_;
  int server_port_ = FreeTcpPort();
  int file_port_ = FreeTcpPort();
  int ack_timeout_ = 2000;  // set before SetUp to change it
  GMainContext* context_ = nullptr;
  CorvaneClientCtrl* ctrl_ = nullptr;
};

}  // namespace Testing
}  // namespace Corvane
