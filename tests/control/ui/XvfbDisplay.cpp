#include "control/ui/XvfbDisplay.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace Corvane {
namespace Testing {

namespace {

const int kStartTimeoutMs = 10000;

}  // namespace

XvfbDisplay::XvfbDisplay() {
  int fds[2];
  if (pipe(fds) != 0) {
    failure_ = std::string("pipe: ") + std::strerror(errno);
    return;
  }
  pid_ = fork();
  if (pid_ == 0) {
    close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-noreset", "-screen",
           "0", "1024x768x24", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  if (pid_ < 0) {
    failure_ = std::string("fork: ") + std::strerror(errno);
    close(fds[0]);
    return;
  }
  // Xvfb writes the display number and a line feed once it accepts clients.
  std::string number;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  while (number.empty() || number.back() != '\n') {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    pollfd poller{fds[0], POLLIN, 0};
    if (left <= 0 || poll(&poller, 1, static_cast<int>(left)) <= 0) {
      failure_ = "Xvfb did not report a display within 10 s";
      break;
    }
    char c;
    if (read(fds[0], &c, 1) != 1) {
      failure_ = "Xvfb exited before reporting a display (is the xvfb package installed?)";
      break;
    }
    number += c;
  }
  close(fds[0]);
  if (failure_.empty()) name_ = ":" + number.substr(0, number.size() - 1);
}

XvfbDisplay::~XvfbDisplay() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace Testing
}  // namespace Corvane
