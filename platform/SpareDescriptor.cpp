#include "platform/SpareDescriptor.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Corvane {
namespace Platform {

namespace {

int OpenSpare() { return ::open("/dev/null", O_RDONLY | O_CLOEXEC); }

}  // namespace

SpareDescriptor::SpareDescriptor() : descriptor_(OpenSpare()) {}

SpareDescriptor::~SpareDescriptor() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

bool SpareDescriptor::ShedOne(int listener) {
  if (descriptor_ >= 0) {
    ::close(descriptor_);
    descriptor_ = -1;
  }
  const int shed = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (shed >= 0) ::close(shed);
  descriptor_ = OpenSpare();
  return shed >= 0;
}

bool SpareDescriptor::OneMoreAvailable() {
  const int probe = OpenSpare();
  if (probe >= 0) {
    ::close(probe);
    return true;
  }
  return errno != EMFILE && errno != ENFILE;
}

}  // namespace Platform
}  // namespace Corvane
