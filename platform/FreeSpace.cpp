#include "platform/FreeSpace.h"

#include <sys/statvfs.h>

#include <limits>

namespace Corvane {
namespace Platform {

std::uint64_t AvailableBytes(const std::string& path) {
  std::string probe = path.empty() ? std::string(".") : path;
  for (;;) {
    struct statvfs status {};
    if (::statvfs(probe.c_str(), &status) == 0) {
      return static_cast<std::uint64_t>(status.f_bavail) * status.f_frsize;
    }
    const auto slash = probe.find_last_of('/');
    if (slash == std::string::npos || probe == "/") break;
    probe = slash == 0 ? std::string("/") : probe.substr(0, slash);
  }
  return std::numeric_limits<std::uint64_t>::max();
}

}  // namespace Platform
}  // namespace Corvane
