#pragma once
// What a test sees of a fake engine library: the fake records every operation
// its engine performs and how often each get_<Method>_method export was
// called, and can be told to fail. The library hands it out through the export
// GetFakeEngineControl, which the test looks up itself.

#include <map>
#include <string>

#include "tests/control/fakes/RecordingEngine.h"

namespace Corvane {
namespace Testing {

struct FakeEngineControl {
  /// How often each get_<Method>_method export was called, by method name.
  std::map<std::string, int> getterCalls;
  /// The process's current directory while GetConnector ran.
  std::string directoryAtGetConnector;
  /// What the library's engine was asked, and how it answers.
  EngineScript script;

  void Reset() { *this = FakeEngineControl(); }
};

/// The export's signature.
using FakeEngineControlFunction = FakeEngineControl* (*)();

}  // namespace Testing
}  // namespace Corvane
