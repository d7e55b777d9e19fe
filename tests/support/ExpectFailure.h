#pragma once

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "interface/Quellor.h"
#include "platform/EngineError.h"

namespace Corvane {
namespace Testing {

/// Runs `action`, which must throw the engine's EngineError or, through
/// the exports, the host's QuellorException, and checks its code and text.
inline void ExpectFailure(const std::function<void()>& action, int code, const std::wstring& text) {
  try {
    action();
    ADD_FAILURE() << "no exception";
  } catch (const Client::EngineError& e) {
    EXPECT_EQ(code, e.GetCode());
    EXPECT_EQ(text, e.GetMessage());
  } catch (const Client::QuellorException& e) {
    EXPECT_EQ(code, e.GetCode());
    EXPECT_EQ(text, e.GetMessage());
  }
}

}  // namespace Testing
}  // namespace Corvane
