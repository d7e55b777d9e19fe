#pragma once
// An engine that only records what it is asked and answers from a script: the
// in-process engine of the control's unit tests and the engine of the fake
// engine libraries alike. It never touches the network.

#include <exception>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "control/ObservableEngine.h"
#include "interface/Quellor.h"
#include "interface/QuellorObserver.h"

namespace Corvane {
namespace Testing {

/// What the engine was asked, and how it is to answer.
struct EngineScript {
  /// Each operation performed: its name followed by its arguments, separated
  /// by '|'.
  std::vector<std::wstring> calls;
  Client::QuellorListener* listener = nullptr;
  Client::QuellorObserver* observer = nullptr;
  /// What SendDataEach answers.
  std::vector<Client::SendOutcome> outcomes;
  /// What GetApplicationHealth answers.
  std::vector<Client::ApplicationHealth> health;
  bool started = false;
  bool hailing = false;
  std::wstring registeredId = L"client-1";
  // Not make_shared: its type tag is a process-unique symbol, which would keep
  // a fake engine library that includes this header from ever unloading.
  std::shared_ptr<Client::ClientApplicationList> applications{new Client::ClientApplicationList};
  /// Operation name → what it throws once recorded.
  std::map<std::wstring, std::exception_ptr> failures;
  /// Thrown by every operation once recorded, when set.
  std::exception_ptr everyOperationFails;

  void Fail(const std::wstring& operation, int code, const std::wstring& text) {
    failures[operation] = std::make_exception_ptr(Client::QuellorException(text, code));
  }
};

class RecordingEngine : public Client::Quellor, public Control::ObservableEngine {
 public:
  /// `script` must outlive the engine.
  explicit RecordingEngine(EngineScript& script) : script_(script) {}

  std::wstring Register() override {
    Call(L"Register");
    return script_.registeredId;
  }
  void Unregister(const std::wstring& id) override { Call(L"Unregister", L"|" + id); }
  std::wstring GetConnectorType() override {
    Call(L"GetConnectorType");
    return L"Fake";
  }
  void Start(const std::wstring& applicationId, const std::wstring& applicationName,
             const std::wstring& groupAddress, int groupPort, int serverPort, int hailingInterval,
             bool usingHailingServer, int ackTimeout, int healthCheckInterval, int filePort,
             const std::wstring& fileDirectory) override {
    std::wostringstream arguments;
    arguments << L'|' << applicationId << L'|' << applicationName << L'|' << groupAddress << L'|'
              << groupPort << L'|' << serverPort << L'|' << hailingInterval << L'|'
              << usingHailingServer << L'|' << ackTimeout << L'|' << healthCheckInterval << L'|'
              << filePort << L'|' << fileDirectory;
    Call(L"Start", arguments.str());
    script_.started = true;
  }
  void Stop() override {
    Call(L"Stop");
    script_.started = false;
  }
  bool IsStarted() override {
    Call(L"IsStarted");
    return script_.started;
  }
  void SetListener(Client::QuellorListener* listener) override {
    Call(L"SetListener");
    script_.listener = listener;
  }
  void ClearListener() override {
    Call(L"ClearListener");
    script_.listener = nullptr;
  }
  bool IsHailing() override {
    Call(L"IsHailing");
    return script_.hailing;
  }
  void SendData(const std::wstring& xml) override { Call(L"SendData", L"|" + xml); }
  std::shared_ptr<Client::ClientApplicationList> GetApplications() override {
    Call(L"GetApplications");
    return script_.applications;
  }

  void SetObserver(Client::QuellorObserver* observer) override {
    Call(L"SetObserver");
    script_.observer = observer;
  }
  void ClearObserver() override {
    Call(L"ClearObserver");
    script_.observer = nullptr;
  }
  std::vector<Client::SendOutcome> SendDataEach(const std::wstring& xml) override {
    Call(L"SendDataEach", L"|" + xml);
    return script_.outcomes;
  }
  std::vector<Client::ApplicationHealth> GetApplicationHealth() override {
    Call(L"GetApplicationHealth");
    return script_.health;
  }

 private:
  // Records the call, then fails it when the script says so.
  void Call(const std::wstring& operation, const std::wstring& arguments = L"") {
    script_.calls.push_back(operation + arguments);
    if (script_.everyOperationFails) std::rethrow_exception(script_.everyOperationFails);
    const auto failure = script_.failures.find(operation);
    if (failure != script_.failures.end()) std::rethrow_exception(failure->second);
  }

  EngineScript& script_;
};

}  // namespace Testing
}  // namespace Corvane
