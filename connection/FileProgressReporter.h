#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace Corvane {
namespace Client {

class Connection;
class ListenerSlot;

/// Tells the host's observer how far one received file has come: as its
/// bytes arrive, at most once per interval, and once at its end, stored or
/// refused with its BINACK text. The stored file counts for the application's
/// link health.
///
/// Thread-safety: Received runs on the connection's read path; Finished on
/// whichever thread answers the file; each may be called from any thread.
class FileProgressReporter {
 public:
  /// The least time between two reports of bytes received.
  static constexpr std::chrono::milliseconds kInterval{100};

  FileProgressReporter(std::shared_ptr<ListenerSlot> listener, std::weak_ptr<Connection> connection,
                       std::wstring fileName, std::int64_t bytesAnnounced);

  /// `bytesReceived` of the file have been read.
  void Received(std::int64_t bytesReceived);
  /// The file's end; only the first call reports.
  void Finished(bool stored, const std::wstring& text);

 private:
  const std::shared_ptr<ListenerSlot> listener_;
  const std::weak_ptr<Connection> connection_;
  const std::wstring file_name_;
  const std::int64_t bytes_announced_;
  std::chrono::steady_clock::time_point last_report_{};
  std::int64_t bytes_received_ = 0;
  std::mutex mutex_;  // guards finished_ and bytes_received_ against Finished
  bool finished_ = false;
};

}  // namespace Client
}  // namespace Corvane
