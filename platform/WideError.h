#pragma once
// The engine's own exception with a wide message, for failures inside the
// engine that carry text but no code (a file that cannot be written, say).
// what() gives the message as UTF-8, converted once at construction. The
// host header's wexception is the host's: nothing inside the engine throws it.

#include <exception>
#include <string>

namespace Corvane {
namespace Platform {

class WideError : public std::exception {
 public:
  explicit WideError(std::wstring message);

  const std::wstring& GetMessage() const noexcept { return message_; }
  const char* what() const noexcept override { return narrow_.c_str(); }

 private:
  std::wstring message_;
  std::string narrow_;
};

}  // namespace Platform
}  // namespace Corvane
