#pragma once

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "interface/Quellor.h"

namespace Corvane {
namespace Testing {

/// Runs `action`, which must throw QuellorException, and checks its code and
/// text.
inline void ExpectFailure(const std::function<void()>& action, int code, const std::wstring& text) {
  try {
    action();
    ADD_FAILURE() << "no exception";
  } catch (const Client::QuellorException& e) {
    EXPECT_EQ(code, e.GetCode());
    EXPECT_EQ(text, e.GetMessage());
  }
}

}  // namespace Testing
}  // namespace Corvane
