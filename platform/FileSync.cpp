#include "platform/FileSync.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Corvane {
namespace Platform {

namespace {

// Syncing through a descriptor of our own flushes whatever any descriptor
// of the file wrote: the writer's stream need not be at hand.
std::string Sync(const std::string& path, int flags, bool dataOnly) {
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
  if (descriptor < 0) return std::string("open: ") + std::strerror(errno);
  const int result = dataOnly ? ::fdatasync(descriptor) : ::fsync(descriptor);
  const int error = errno;
  ::close(descriptor);
  if (result != 0) return std::string(dataOnly ? "fdatasync: " : "fsync: ") + std::strerror(error);
  return {};
}

}  // namespace

std::string SyncFileData(const std::string& path) { return Sync(path, O_NOFOLLOW, true); }

void StartWriteback(int descriptor, std::uint64_t offset, std::uint64_t length) {
  if (length == 0) return;
  ::sync_file_range(descriptor, static_cast<off64_t>(offset), static_cast<off64_t>(length),
                    SYNC_FILE_RANGE_WRITE);
}

std::string SyncDirectory(const std::string& path) { return Sync(path, O_DIRECTORY, false); }

}  // namespace Platform
}  // namespace Corvane
