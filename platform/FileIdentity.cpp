#include "platform/FileIdentity.h"

#include <sys/stat.h>

#include "platform/TextConversion.h"

namespace Corvane {
namespace Platform {

namespace {

std::int64_t Nanoseconds(const struct timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

}  // namespace

FileIdentity FileIdentity::Of(const std::wstring& path) {
  FileIdentity identity;
  struct stat status {};
  if (::stat(ToUtf8(path).c_str(), &status) != 0) return identity;
  identity.exists = true;
  identity.device = static_cast<std::uint64_t>(status.st_dev);
  identity.inode = static_cast<std::uint64_t>(status.st_ino);
  identity.size = static_cast<std::int64_t>(status.st_size);
  identity.modified_ns = Nanoseconds(status.st_mtim);
  identity.changed_ns = Nanoseconds(status.st_ctim);
  return identity;
}

bool FileIdentity::operator==(const FileIdentity& other) const {
  return exists == other.exists && device == other.device && inode == other.inode &&
         size == other.size && modified_ns == other.modified_ns && changed_ns == other.changed_ns;
}

}  // namespace Platform
}  // namespace Corvane
