#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Corvane {
namespace Platform {

std::unique_ptr<FileLock> FileLock::TryLock(const std::string& path) {
  // A lock taken on a file that someone removed meanwhile protects nothing:
  // lock again until the path names the file locked.
  for (int attempt = 0; attempt < 4; ++attempt) {
    const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0) return nullptr;
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
      ::close(descriptor);
      return nullptr;
    }
    struct stat held {};
    struct stat named {};
    if (::fstat(descriptor, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      return std::unique_ptr<FileLock>(new FileLock(descriptor));
    }
    ::close(descriptor);
  }
  return nullptr;
}

FileLock::~FileLock() { ::close(descriptor_); }

}  // namespace Platform
}  // namespace Corvane
