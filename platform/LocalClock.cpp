#include "platform/LocalClock.h"

#include <time.h>

namespace Corvane {
namespace Platform {

LocalClock::~LocalClock() = default;

LocalTime LocalClock::Now() const {
  LocalTime now;
  timespec stamp{};
  ::clock_gettime(CLOCK_REALTIME, &stamp);
  tm fields{};
  if (!::localtime_r(&stamp.tv_sec, &fields)) return now;
  now.year = fields.tm_year + 1900;
  now.month = fields.tm_mon + 1;
  now.day = fields.tm_mday;
  now.hour = fields.tm_hour;
  now.minute = fields.tm_min;
  now.second = fields.tm_sec;
  now.millisecond = static_cast<int>(stamp.tv_nsec / 1000000);
  now.biasMinutes = static_cast<int>(-fields.tm_gmtoff / 60);
  return now;
}

}  // namespace Platform
}  // namespace Corvane
