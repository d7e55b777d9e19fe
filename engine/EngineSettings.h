#pragma once

#include <string>

namespace Corvane {
namespace Client {

/// The engine's settings as Start stores them. Intervals and timeouts are
/// milliseconds.
struct EngineSettings {
  std::wstring ApplicationId;
  std::wstring ApplicationName = L"<undefined>";
  std::wstring GroupAddress = L"228.11.11.11";
  int GroupPort = 45599;
  int ServerPort = 45500;
  int HailingInterval = 15000;
  bool UsingHailingServer = true;
  int AckTimeout = 30000;
  int HealthCheckInterval = 60000;
  int FilePort = 45501;
  std::wstring FileDirectory;

  /// Checks the arguments of Start in their fixed order, storing each value as
  /// its check passes. The first failing check throws EngineError (-114 to
  /// -126); values stored by earlier checks stay stored.
  void Apply(const std::wstring& applicationId, const std::wstring& applicationName,
             const std::wstring& groupAddress, int groupPort, int serverPort, int hailingInterval,
             bool usingHailingServer, int ackTimeout, int healthCheckInterval, int filePort,
             const std::wstring& fileDirectory);

  /// A checked group address as a socket reads it: each octet in decimal,
  /// without leading zeros ("239.001.02.3" gives "239.1.2.3"). The stored
  /// text stays as the host gave it.
  static std::string DecimalGroupAddress(const std::wstring& groupAddress);
};

}  // namespace Client
}  // namespace Corvane
