#pragma once
// What a test sees of a fake engine library: the fake records every operation
// its engine performs and how often each get_<Method>_method export was
// called, and can be told to fail. The library hands it out through the export
// GetFakeEngineControl, which the test looks up itself.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/Quellor.h"

namespace Corvane {
namespace Testing {

struct FakeEngineControl {
  /// How often each get_<Method>_method export was called, by method name.
  std::map<std::string, int> getterCalls;
  /// The operations the engine performed, each as its name followed by its
  /// arguments, separated by '|'.
  std::vector<std::wstring> calls;
  /// The process's current directory while GetConnector ran.
  std::string directoryAtGetConnector;
  /// The stored listener.
  Client::QuellorListener* listener = nullptr;
  bool started = false;
  bool hailing = false;
  /// Non-zero: every operation throws QuellorException(failureText, failureCode).
  int failureCode = 0;
  std::wstring failureText;
  /// Every operation throws std::runtime_error with this text, when not empty.
  std::string foreignFailure;
  /// Returned by GetApplications.
  std::shared_ptr<Client::ClientApplicationList> applications;

  void Reset() { *this = FakeEngineControl(); }
};

/// The export's signature.
using FakeEngineControlFunction = FakeEngineControl* (*)();

}  // namespace Testing
}  // namespace Corvane
