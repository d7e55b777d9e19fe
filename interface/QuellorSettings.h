#pragma once
// The engine's settings as a host passes them to Quellor::Start: each one's
// default and the range Start accepts. One table for every place that needs
// them (the engine's checks, the control's defaults and its property page),
// so they cannot drift apart. Stands alone like Quellor.h.

namespace Corvane {
namespace Client {
namespace Settings {

/// An integer argument of Start: its default and the values Start accepts
/// (both ends included). Intervals and timeouts are milliseconds.
struct IntegerSetting {
  /// The setting's name, as the property file and the messages spell it.
  const char* name;
  /// The value a host that sets nothing gets.
  int defaultValue;
  /// The smallest value Start accepts.
  int minimum;
  /// The largest value Start accepts.
  int maximum;

  /// Whether Start accepts the value.
  constexpr bool Accepts(int value) const { return value >= minimum && value <= maximum; }
};

constexpr int kIntMax = 2147483647;

constexpr IntegerSetting kGroupPort{"GroupPort", 45599, 1, 65535};
constexpr IntegerSetting kServerPort{"ServerPort", 45500, 1, 65535};
constexpr IntegerSetting kHailingInterval{"HailingInterval", 15000, 1, kIntMax};
constexpr IntegerSetting kAckTimeout{"AckTimeout", 30000, 1, kIntMax};
constexpr IntegerSetting kHealthCheckInterval{"HealthCheckInterval", 60000, 1, kIntMax};
constexpr IntegerSetting kFilePort{"FilePort", 45501, 1, 65535};

constexpr const wchar_t* kDefaultGroupAddress = L"228.11.11.11";
constexpr bool kDefaultUsingHailingServer = true;
/// The default file directory's name, inside the module's directory.
constexpr const wchar_t* kDefaultFileDirectoryName = L"files";

/// Widths of the application's own id and name, in UTF-16 units; longer
/// values are cut.
constexpr int kMaxApplicationIdLength = 36;
constexpr int kMaxApplicationNameLength = 30;

}  // namespace Settings
}  // namespace Client
}  // namespace Corvane
