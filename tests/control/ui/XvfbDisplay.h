#pragma once
// A private virtual X server for the dialog tests: Xvfb picks a free display
// number itself (-displayfd), the process's DISPLAY points at it, and the
// server is stopped (and reaped) when the object goes.

#include <sys/types.h>

#include <string>

namespace Corvane {
namespace Testing {

class XvfbDisplay {
 public:
  /// Starts Xvfb and waits (at most ten seconds) for it to report its display.
  XvfbDisplay();
  /// Stops the server and waits for it to exit.
  ~XvfbDisplay();
  XvfbDisplay(const XvfbDisplay&) = delete;
  XvfbDisplay& operator=(const XvfbDisplay&) = delete;

  bool IsRunning() const { return pid_ > 0 && !name_.empty(); }
  /// ":N", or empty when the server did not start.
  const std::string& GetName() const { return name_; }
  /// Why the server did not start.
  const std::string& GetFailure() const { return failure_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
  std::string failure_;
};

}  // namespace Testing
}  // namespace Corvane
