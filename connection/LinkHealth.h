#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "interface/QuellorObserver.h"

namespace Corvane {
namespace Client {

/// The running tally of one application's link: when it connected, when a
/// frame last came, the last acknowledged round trips, and what went each
/// way. The standard connection owns it; the application's file connections
/// share it, so their bytes and files count for the application.
///
/// Thread-safety: every member may be called from any thread; each figure is
/// its own atomic, so a snapshot may mix figures a moment apart.
class LinkHealth {
 public:
  using Clock = std::chrono::system_clock;

  LinkHealth();

  /// `bytes` read from the application (standard or file connection).
  void OnBytesReceived(std::uint64_t bytes);
  void OnFrameReceived();
  void OnHealthCheckAnswered(std::chrono::microseconds roundTrip);
  void OnXmlAcknowledged(std::chrono::microseconds roundTrip);
  void OnAcknowledgementMissed();
  void OnXmlReceived();
  void OnXmlSent();
  void OnFileReceived();

  /// The figures, with `application` as the one they belong to.
  ApplicationHealth Snapshot(const ApplicationInfo& application) const;

 private:
  static std::int64_t Now();

  const std::int64_t connected_since_;  // microseconds since the epoch
  std::atomic<std::int64_t> last_frame_;
  std::atomic<std::int64_t> health_check_round_trip_{-1};
  std::atomic<std::int64_t> xml_round_trip_{-1};
  std::atomic<std::uint64_t> acknowledgements_missed_{0};
  std::atomic<std::uint64_t> xml_received_{0};
  std::atomic<std::uint64_t> xml_sent_{0};
  std::atomic<std::uint64_t> files_received_{0};
  std::atomic<std::uint64_t> bytes_received_{0};
};

}  // namespace Client
}  // namespace Corvane
