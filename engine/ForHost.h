#pragma once
// Where a failure leaves the engine for its host, and the one place that
// makes the host's QuellorException.

#include <exception>

#include "errors/ExceptionText.h"
#include "interface/Quellor.h"
#include "platform/EngineError.h"

namespace Corvane {
namespace Client {

/// Runs one operation for a host: only QuellorException reaches the host. The
/// engine's own failures keep their code and text; anything else thrown
/// inside the engine becomes -132, with its text.
template <typename Operation>
auto ForHost(Operation&& operation) -> decltype(operation()) {
  try {
    return operation();
  } catch (const EngineError& e) {
    throw QuellorException(e.GetMessage(), e.GetCode());
  } catch (const QuellorException&) {
    throw;
  } catch (const std::exception& e) {
    throw QuellorException(L"Internal error: " + ExceptionText(e),
                           Platform::ToInt(Errc::kInternalError));
  } catch (...) {
    throw QuellorException(L"Internal error", Platform::ToInt(Errc::kInternalError));
  }
}

}  // namespace Client
}  // namespace Corvane
