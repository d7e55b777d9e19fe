#pragma once

#include <chrono>
#include <string>

#include "interface/QuellorSettings.h"

namespace Corvane {
namespace Client {

/// The engine's settings as Start stores them: checked once, with the
/// intervals and timeouts as durations; each run keeps a copy. The defaults
/// are the host interface's (interface/QuellorSettings.h).
struct EngineSettings {
  std::wstring ApplicationId;
  std::wstring ApplicationName = L"<undefined>";
  std::wstring GroupAddress = Settings::kDefaultGroupAddress;
  int GroupPort = Settings::kGroupPort.defaultValue;
  int ServerPort = Settings::kServerPort.defaultValue;
  std::chrono::milliseconds HailingInterval{Settings::kHailingInterval.defaultValue};
  bool UsingHailingServer = Settings::kDefaultUsingHailingServer;
  std::chrono::milliseconds AckTimeout{Settings::kAckTimeout.defaultValue};
  std::chrono::milliseconds HealthCheckInterval{Settings::kHealthCheckInterval.defaultValue};
  int FilePort = Settings::kFilePort.defaultValue;
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
