#pragma once
// The engine as a host holds it: Quellor.so loaded from a module directory of
// the test's own (with a logger.ini that logs to Engine.log there), a
// recording listener set, and vendor applications played by test peers on
// loopback. The host test fixtures derive from it.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "QuellorHost.h"
#include "support/FreePort.h"
#include "support/RecordingListener.h"
#include "support/TempDir.h"
#include "support/TestPeer.h"
#include "support/TestTiming.h"

namespace Corvane {
namespace Testing {

/// Start's settings that the tests vary; the timeouts are scaled (Scaled).
struct EngineOptions {
  bool hailing = false;
  int hailingInterval = 100;
  int ackTimeout = 1000;
  int healthCheckInterval = 60000;
};

/// A document the engine's grammars accept.
inline const std::wstring kValidXml =
    L"<?xml version=\"1.0\"?><!DOCTYPE message SYSTEM \"corvane-message.dtd\">"
    L"<message id=\"m1\"><sender>client</sender><body>hello</body></message>";

class HostedEngineTest : public ::testing::Test {
 protected:
  HostedEngineTest() {
    module_.WriteFile("logger.ini", "[Log]\ntype=FILE\nname=Engine\ndefaultLogLevel=INFO\n");
    host_ = std::make_unique<QuellorHost>(module_.Path());
    engine_ = host_->GetConnector();
    host_->Get<Client::QuellorMethods::SetListener>("SetListener")(engine_, &listener_);
  }
  ~HostedEngineTest() override {
    peers_.clear();
    Stop();
    host_->Get<Client::QuellorMethods::ClearListener>("ClearListener")(engine_);
  }

  /// Starts on fresh ports, received files going to `fileDirectory` (by
  /// default "files" in the module directory).
  void Start(const EngineOptions& options = {},
             std::filesystem::path fileDirectory = std::filesystem::path()) {
    server_port_ = FreeTcpPort();
    file_port_ = FreeTcpPort();
    group_port_ = FreeUdpPort();
    if (fileDirectory.empty()) fileDirectory = module_.Path() / "files";
    host_->Get<Client::QuellorMethods::Start>("Start")(
        engine_, L"client-app-id", L"Client App", L"239.255.1.2", group_port_, server_port_,
        options.hailingInterval, options.hailing, Scaled(options.ackTimeout),
        Scaled(options.healthCheckInterval), file_port_, fileDirectory.wstring());
  }
  void Stop() { host_->Get<Client::QuellorMethods::Stop>("Stop")(engine_); }
  bool IsStarted() { return host_->Get<Client::QuellorMethods::IsStarted>("IsStarted")(engine_); }
  void SendData(const std::wstring& xml) {
    host_->Get<Client::QuellorMethods::SendData>("SendData")(engine_, xml);
  }
  std::shared_ptr<Client::ClientApplicationList> Applications() {
    return host_->Get<Client::QuellorMethods::GetApplications>("GetApplications")(engine_);
  }
  std::vector<std::wstring> ApplicationIds() {
    std::vector<std::wstring> ids;
    const auto applications = Applications();
    for (const auto& application : *applications) ids.push_back(application->GetId());
    return ids;
  }
  /// Waits until the list of application ids equals `expected`.
  bool WaitForApplications(const std::vector<std::wstring>& expected) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (ApplicationIds() != expected) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  /// A vendor application hand-shaken as `id` on the server port (or `port`).
  TestPeer& Connect(const std::u16string& id, const std::u16string& name = u"Vendor",
                    int port = 0) {
    peers_.push_back(std::make_unique<TestPeer>(port ? port : server_port_));
    EXPECT_TRUE(peers_.back()->HandShake(id, name));
    return *peers_.back();
  }

  std::string Log() { return ReadFile(module_.Path() / "Engine.log"); }
  bool WaitForLog(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (Log().find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  TempDir module_;
  std::unique_ptr<QuellorHost> host_;
  Client::Quellor* engine_ = nullptr;
  RecordingListener listener_;
  std::vector<std::unique_ptr<TestPeer>> peers_;
  int server_port_ = 0;
  int file_port_ = 0;
  int group_port_ = 0;
};

}  // namespace Testing
}  // namespace Corvane
