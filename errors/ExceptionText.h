#pragma once
// The one way a caught exception becomes wide text for a log line, a host's
// error text or a peer's BINACK.

#include <exception>
#include <string>

namespace Corvane {
namespace Client {

/// The wide message of a Platform::WideError (EngineError included) or of a
/// host wexception (QuellorException included) as it was
/// given, else the exception's what() read as UTF-8.
std::wstring ExceptionText(const std::exception& e);

}  // namespace Client
}  // namespace Corvane
