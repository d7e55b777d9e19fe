#pragma once
// How much a file system still holds.

#include <cstdint>
#include <string>

namespace Corvane {
namespace Platform {

/// Bytes an unprivileged process may still write on the file system that
/// holds `path`, or holds its nearest existing parent when `path` does not
/// exist yet; UINT64_MAX when that cannot be found out.
std::uint64_t AvailableBytes(const std::string& path);

}  // namespace Platform
}  // namespace Corvane
