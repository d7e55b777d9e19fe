#pragma once
// Local wall-clock time with its zone offset, behind a class that tests
// derive from to fix the time.

namespace Corvane {
namespace Platform {

/// Local time fields and the zone bias, as GetLocalTime and the Bias field of
/// GetTimeZoneInformation give them on Windows.
struct LocalTime {
  int year = 1970;
  int month = 1;        ///< 1-12
  int day = 1;          ///< 1-31
  int hour = 0;         ///< 0-23
  int minute = 0;       ///< 0-59
  int second = 0;       ///< 0-60
  int millisecond = 0;  ///< 0-999
  /// Minus the offset of local time from UTC, in minutes (UTC-5 gives 300,
  /// UTC+1 gives -60). Includes daylight saving when it is in effect.
  int biasMinutes = 0;
};

/// The system's local clock (localtime_r with its tm_gmtoff). Tests derive
/// from it and override Now to return fixed fields.
/// Thread-safety: Now may be called from any thread at once.
class LocalClock {
 public:
  LocalClock() = default;
  virtual ~LocalClock();
  LocalClock(const LocalClock&) = delete;
  LocalClock& operator=(const LocalClock&) = delete;

  /// The current local time; never fails (the epoch's fields if the system
  /// cannot convert the time).
  virtual LocalTime Now() const;
};

}  // namespace Platform
}  // namespace Corvane
