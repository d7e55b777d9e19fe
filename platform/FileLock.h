#pragma once
// An advisory, exclusive lock on a file, held for as long as the object
// lives (and released by the system when the process ends, however it ends):
// how engines of several processes tell which temporary files still have an
// owner.

#include <memory>
#include <string>

namespace Corvane {
namespace Platform {

class FileLock {
 public:
  /// Creates `path` if need be and locks it without waiting; null when
  /// another process (or another FileLock) holds it, or it cannot be opened.
  static std::unique_ptr<FileLock> TryLock(const std::string& path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  explicit FileLock(int descriptor) : descriptor_(descriptor) {}
  int descriptor_;
};

}  // namespace Platform
}  // namespace Corvane
