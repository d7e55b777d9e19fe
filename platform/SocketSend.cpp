#include "platform/SocketSend.h"

#include <sys/socket.h>

namespace Corvane {
namespace Platform {

std::size_t SendWithoutWaiting(int socket, const void* data, std::size_t size) {
  const ssize_t sent = ::send(socket, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
  return sent > 0 ? static_cast<std::size_t>(sent) : 0;
}

}  // namespace Platform
}  // namespace Corvane
