#include "connection/FileProgressReporter.h"

#include <utility>

#include "connection/Connection.h"
#include "connection/LinkHealth.h"
#include "connection/ListenerSlot.h"

namespace Corvane {
namespace Client {

FileProgressReporter::FileProgressReporter(std::shared_ptr<ListenerSlot> listener,
                                           std::weak_ptr<Connection> connection,
                                           std::wstring fileName, std::int64_t bytesAnnounced)
    : listener_(std::move(listener)),
      connection_(std::move(connection)),
      file_name_(std::move(fileName)),
      bytes_announced_(bytesAnnounced) {}

void FileProgressReporter::Received(std::int64_t bytesReceived) {
  if (!listener_->HasObserver()) return;
  const auto now = std::chrono::steady_clock::now();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    bytes_received_ = bytesReceived;
    // The last bytes are reported by Finished, with the outcome.
    if (finished_ || bytesReceived >= bytes_announced_ || now - last_report_ < kInterval) return;
    last_report_ = now;
  }
  const auto connection = connection_.lock();
  if (!connection) return;
  FileProgress progress;
  progress.applicationId = connection->GetId();
  progress.fileName = file_name_;
  progress.bytesReceived = bytesReceived;
  progress.bytesAnnounced = bytes_announced_;
  listener_->NotifyObserver([&](QuellorObserver& observer) { observer.OnFileProgress(progress); });
}

void FileProgressReporter::Finished(bool stored, const std::wstring& text) {
  std::int64_t received = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;
    finished_ = true;
    received = bytes_received_;
  }
  const auto connection = connection_.lock();
  if (!connection) return;
  if (stored) connection->GetHealth()->OnFileReceived();
  FileProgress progress;
  progress.applicationId = connection->GetId();
  progress.fileName = file_name_;
  progress.bytesReceived = received;
  progress.bytesAnnounced = bytes_announced_;
  progress.finished = true;
  progress.stored = stored;
  progress.text = text;
  listener_->NotifyObserver([&](QuellorObserver& observer) { observer.OnFileProgress(progress); });
}

}  // namespace Client
}  // namespace Corvane
