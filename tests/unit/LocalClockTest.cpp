#include "platform/LocalClock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace Corvane {
namespace Platform {
namespace {

// Runs the clock under the time zone `zone` and restores the process's own.
LocalTime NowIn(const char* zone) {
  const char* saved = std::getenv("TZ");
  const std::string previous = saved ? saved : "";
  ::setenv("TZ", zone, 1);
  ::tzset();
  const LocalTime now = LocalClock().Now();
  if (saved) {
    ::setenv("TZ", previous.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
  return now;
}

TEST(LocalClockTest, BiasIsMinusTheZoneOffset) {
  EXPECT_EQ(NowIn("UTC0").biasMinutes, 0);
  EXPECT_EQ(NowIn("EST5").biasMinutes, 300);
  EXPECT_EQ(NowIn("CET-1").biasMinutes, -60);
  EXPECT_EQ(NowIn("IST-5:30").biasMinutes, -330);
}

}  // namespace
}  // namespace Platform
}  // namespace Corvane
