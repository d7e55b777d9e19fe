#pragma once
// The engine in-process, as a benchmark drives it: a private module directory
// (a copy of dtd/ and a logger.ini that keeps logging at error level, written
// to a file there), a started Tarnlink without hailing, on free ports.

#include <filesystem>
#include <memory>
#include <string>

namespace Corvane {
namespace Client {
class Tarnlink;
}
namespace Bench {

struct EngineOptions {
  int ackTimeout = 2000;
  int healthCheckInterval = 60000;
  /// The [Limits] section of engine.ini; the default lets one address hold
  /// the thousands of connections a scale run opens.
  std::string limits = "MaxConnections=30000\nMaxConnectionsPerAddress=30000\n";
};

class BenchEngine {
 public:
  /// Creates the module directory, installs its logging configuration for
  /// the loggers created from now on, constructs and starts the engine, and
  /// returns once its grammar files count as settled (about a second after
  /// they were copied). Throws when the engine cannot start.
  explicit BenchEngine(EngineOptions options = {});
  /// Stops the engine and removes the module directory.
  ~BenchEngine();
  BenchEngine(const BenchEngine&) = delete;
  BenchEngine& operator=(const BenchEngine&) = delete;

  /// Stops the engine and starts it again on new ports, as warm as it was.
  void Restart();
  /// The same, with health checks every `healthCheckInterval` ms from now on.
  void Restart(int healthCheckInterval);

  Client::Tarnlink& Engine() { return *engine_; }
  /// The module directory: temp/ and the file directory files/ are in it.
  const std::filesystem::path& Directory() const { return directory_; }
  int ServerPort() const { return server_port_; }
  int FilePort() const { return file_port_; }
  /// Number of applications the engine lists now.
  std::size_t Applications();
  /// Lines of the engine's log file (errors only) that contain `text`.
  int CountLogLines(const std::string& text) const;

 private:
  void StartEngine();

  EngineOptions options_;
  std::filesystem::path directory_;
  int file_port_ = 0;
  int server_port_ = 0;
  std::unique_ptr<Client::Tarnlink> engine_;
};

}  // namespace Bench
}  // namespace Corvane
