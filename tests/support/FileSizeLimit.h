#pragma once
// Lowers the process's file size limit for a test, so that writes beyond it
// fail with EFBIG (the SIGXFSZ that would end the process is ignored
// meanwhile). Restored when the guard goes out of scope.

#include <sys/resource.h>

#include <csignal>

namespace Corvane {
namespace Testing {

class FileSizeLimit {
 public:
  FileSizeLimit() = default;
  ~FileSizeLimit() { Restore(); }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  /// False when the limit cannot be lowered (the test should then skip).
  bool Set(rlim_t limit) {
    if (::getrlimit(RLIMIT_FSIZE, &saved_) != 0) return false;
    saved_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved_;
    lowered.rlim_cur = limit;
    active_ = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    return active_;
  }

  void Restore() {
    if (active_) ::setrlimit(RLIMIT_FSIZE, &saved_);
    if (saved_handler_ != SIG_ERR) std::signal(SIGXFSZ, saved_handler_);
    active_ = false;
    saved_handler_ = SIG_ERR;
  }

 private:
  rlimit saved_{};
  void (*saved_handler_)(int) = SIG_ERR;
  bool active_ = false;
};

}  // namespace Testing
}  // namespace Corvane
