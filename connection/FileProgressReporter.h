#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "interface/QuellorObserver.h"

namespace Corvane {
namespace Client {

class LinkHealth;
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

  /// Reports for the application `applicationId`, whose link is `health`.
  /// Nothing of the connection is held: the last report is due even when
  /// the sender has closed it right after its BINACK.
  FileProgressReporter(std::shared_ptr<ListenerSlot> listener, std::wstring applicationId,
                       std::shared_ptr<LinkHealth> health, std::wstring fileName,
                       std::int64_t bytesAnnounced);

  /// `bytesReceived` of the file have been read.
  void Received(std::int64_t bytesReceived);
  /// The file's end; only the first call reports.
  void Finished(bool stored, const std::wstring& text);

 private:
  // This file's progress with `bytesReceived` read.
  FileProgress Progress(std::int64_t bytesReceived) const;
  void Report(const FileProgress& progress) const;

  const std::shared_ptr<ListenerSlot> listener_;
  const std::wstring application_id_;
  const std::shared_ptr<LinkHealth> health_;
  const std::wstring file_name_;
  const std::int64_t bytes_announced_;
  std::chrono::steady_clock::time_point last_report_{};
  std::int64_t bytes_received_ = 0;
  std::mutex mutex_;  // guards finished_ and bytes_received_ against Finished
  bool finished_ = false;
};

}  // namespace Client
}  // namespace Corvane
