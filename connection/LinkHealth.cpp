#include "connection/LinkHealth.h"

namespace Corvane {
namespace Client {

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
}

LinkHealth::LinkHealth() : connected_since_(Now()), last_frame_(connected_since_) {}

std::int64_t LinkHealth::Now() {
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
      .count();
}

void LinkHealth::OnBytesReceived(std::uint64_t bytes) { bytes_received_.fetch_add(bytes, kRelaxed); }
void LinkHealth::OnFrameReceived() { last_frame_.store(Now(), kRelaxed); }
void LinkHealth::OnHealthCheckAnswered(std::chrono::microseconds roundTrip) {
  health_check_round_trip_.store(roundTrip.count(), kRelaxed);
}
void LinkHealth::OnXmlAcknowledged(std::chrono::microseconds roundTrip) {
  xml_round_trip_.store(roundTrip.count(), kRelaxed);
}
void LinkHealth::OnAcknowledgementMissed() { acknowledgements_missed_.fetch_add(1, kRelaxed); }
void LinkHealth::OnXmlReceived() { xml_received_.fetch_add(1, kRelaxed); }
void LinkHealth::OnXmlSent() { xml_sent_.fetch_add(1, kRelaxed); }
void LinkHealth::OnFileReceived() { files_received_.fetch_add(1, kRelaxed); }

ApplicationHealth LinkHealth::Snapshot(const ApplicationInfo& application) const {
  using std::chrono::microseconds;
  ApplicationHealth health;
  health.application = application;
  health.connectedSince = Clock::time_point(microseconds(connected_since_));
  health.lastFrameReceived = Clock::time_point(microseconds(last_frame_.load(kRelaxed)));
  health.healthCheckRoundTrip = microseconds(health_check_round_trip_.load(kRelaxed));
  health.xmlRoundTrip = microseconds(xml_round_trip_.load(kRelaxed));
  health.acknowledgementsMissed = acknowledgements_missed_.load(kRelaxed);
  health.xmlReceived = xml_received_.load(kRelaxed);
  health.xmlSent = xml_sent_.load(kRelaxed);
  health.filesReceived = files_received_.load(kRelaxed);
  health.bytesReceived = bytes_received_.load(kRelaxed);
  return health;
}

}  // namespace Client
}  // namespace Corvane
