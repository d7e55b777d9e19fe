#pragma once

#include <cstddef>

namespace Corvane {
namespace Platform {

/// Sends what the socket takes at once, without waiting and without SIGPIPE.
/// Returns the number of bytes sent; 0 when nothing could be sent now or the
/// send failed (the caller then writes the normal, waiting way, which reports
/// any error).
std::size_t SendWithoutWaiting(int socket, const void* data, std::size_t size);

}  // namespace Platform
}  // namespace Corvane
