#include "connection/SendGroup.h"

#include <cerrno>
#include <ctime>
#include <system_error>

namespace Corvane {
namespace Client {

SendGroup::SendGroup(std::size_t count) : remaining_(count) {
  if (sem_init(&settled_, 0, 0) != 0) {
    throw std::system_error(errno, std::generic_category(), "sem_init");
  }
}

SendGroup::~SendGroup() { sem_destroy(&settled_); }

void SendGroup::OneSettled() {
  std::size_t remaining = remaining_.load();
  do {
    if (remaining == 0) return;
  } while (!remaining_.compare_exchange_weak(remaining, remaining - 1));
  if (remaining == 1) sem_post(&settled_);
}

bool SendGroup::WaitUntil(std::chrono::steady_clock::time_point deadline) {
  // steady_clock is CLOCK_MONOTONIC.
  const auto sinceEpoch = deadline.time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
  timespec until{};
  until.tv_sec = static_cast<time_t>(seconds.count());
  until.tv_nsec = static_cast<long>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch - seconds).count());
  while (remaining_.load() != 0) {
    if (sem_clockwait(&settled_, CLOCK_MONOTONIC, &until) == 0) {
      sem_post(&settled_);  // the count is zero now; later waits find it so
    } else if (errno != EINTR) {
      return remaining_.load() == 0;  // ETIMEDOUT
    }
  }
  return true;
}

}  // namespace Client
}  // namespace Corvane
