#pragma once
// Uses up the process's file descriptors for a test, so that opening one
// more fails with EMFILE. Everything taken is given back, and the limit
// restored, when the guard goes out of scope.

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <vector>

namespace Corvane {
namespace Testing {

class DescriptorLimit {
 public:
  DescriptorLimit() { ::getrlimit(RLIMIT_NOFILE, &saved_); }
  ~DescriptorLimit() {
    Free();
    ::setrlimit(RLIMIT_NOFILE, &saved_);
  }
  DescriptorLimit(const DescriptorLimit&) = delete;
  DescriptorLimit& operator=(const DescriptorLimit&) = delete;

  /// Uses up every descriptor but `spare`.
  void LeaveOnly(int spare) {
    for (int fd = ::open("/dev/null", O_RDONLY); fd >= 0; fd = ::open("/dev/null", O_RDONLY)) {
      filler_.push_back(fd);
      if (filler_.size() > 100000) break;  // bounded, whatever the limit
    }
    for (int i = 0; i < spare && !filler_.empty(); ++i) {
      ::close(filler_.back());
      filler_.pop_back();
    }
  }
  void Free() {
    for (int fd : filler_) ::close(fd);
    filler_.clear();
  }

 private:
  rlimit saved_{};
  std::vector<int> filler_;
};

}  // namespace Testing
}  // namespace Corvane
