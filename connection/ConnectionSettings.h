#pragma once
// What a connection needs to know of the engine that accepted it, and which
// of the engine's two ports it came in on.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace Corvane {
namespace File {
class FileFactory;
}
namespace Client {

class AccessPolicy;
class BodyBudget;

/// The port a connection came in on: standard connections carry XML and are
/// health-checked; file connections carry files only.
enum class ConnectionKind { kStandard, kFile };

struct ConnectionSettings {
  /// The engine's own id, name and language, announced in the CONNECTACK.
  std::wstring engineApplicationId;
  std::wstring engineApplicationName;
  std::wstring language;
  std::chrono::milliseconds ackTimeout{30000};
  std::chrono::milliseconds healthCheckInterval{60000};
  /// The engine's file port, announced in the CONNECTACK.
  int filePort = 45501;
  /// Where received files are delivered.
  std::wstring fileDirectory;
  /// Where received files are kept until they are checked. Needed by file
  /// connections only.
  std::shared_ptr<File::FileFactory> fileFactory;
  /// A connection that starts no frame for this long is closed (0: never).
  std::chrono::milliseconds idleTimeout{0};
  /// A file is refused when receiving it would leave less than this many
  /// bytes free where it is kept or delivered.
  std::uint64_t minFreeBytes = 0;
  /// Whom the site lets in; null allows everyone. A CONNECT whose application
  /// id it does not allow is answered with nothing: the connection closes.
  std::shared_ptr<const AccessPolicy> access = nullptr;
  /// Memory the engine's connections together may hold for frames being
  /// read; null: no budget beyond the frame's own limit.
  std::shared_ptr<BodyBudget> bodyBudget = nullptr;
};

}  // namespace Client
}  // namespace Corvane
