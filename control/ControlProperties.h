#pragma once
// The control's stored properties: the engine settings a host sets, saves and
// hands to Start.

#include <string>

#include "filestore/UserDirectories.h"

namespace Corvane {
namespace Control {

struct ControlProperties {
  std::wstring groupAddress = L"228.11.11.11";
  int groupPort = 45599;
  int serverPort = 45500;
  int hailingInterval = 15000;
  bool usingHailingServer = true;
  int ackTimeout = 30000;
  int healthCheckInterval = 60000;
  int filePort = 45501;
  /// Default: the control module's directory followed by "/files", or a
  /// per-user directory where that is not writable.
  std::wstring fileDirectory;

  /// The defaults, with the file directory inside `moduleDirectory` (or the
  /// per-user one).
  static ControlProperties Defaults(const std::wstring& moduleDirectory) {
    ControlProperties properties;
    properties.fileDirectory = File::DefaultFileDirectory(moduleDirectory);
    return properties;
  }

  bool operator==(const ControlProperties& other) const {
    return groupAddress == other.groupAddress && groupPort == other.groupPort &&
           serverPort == other.serverPort && hailingInterval == other.hailingInterval &&
           usingHailingServer == other.usingHailingServer && ackTimeout == other.ackTimeout &&
           healthCheckInterval == other.healthCheckInterval && filePort == other.filePort &&
           fileDirectory == other.fileDirectory;
  }
  bool operator!=(const ControlProperties& other) const { return !(*this == other); }
};

}  // namespace Control
}  // namespace Corvane
