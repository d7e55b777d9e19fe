#pragma once
// A failure inside the engine that has one of the engine's codes: the typed
// code and the wide text the host will see. Engine operations throw it; the
// exports turn it into the host's QuellorException (same text, same number)
// where the failure leaves the library.

#include <string>
#include <system_error>

#include "platform/ErrorCode.h"
#include "platform/WideError.h"

namespace Corvane {
namespace Platform {

class EngineError : public WideError {
 public:
  EngineError(std::wstring message, Errc code) : WideError(std::move(message)), code_(code) {}

  Errc Code() const noexcept { return code_; }
  /// The number a host sees.
  int GetCode() const noexcept { return ToInt(code_); }
  std::error_code ErrorCode() const noexcept { return make_error_code(code_); }

 private:
  Errc code_;
};

}  // namespace Platform

namespace Client {
using Platform::EngineError;
}  // namespace Client
}  // namespace Corvane
