#include "connection/FileProgressReporter.h"

#include <utility>

#include "connection/LinkHealth.h"
#include "connection/ListenerSlot.h"

namespace Corvane {
namespace Client {

FileProgressReporter::FileProgressReporter(std::shared_ptr<ListenerSlot> listener,
                                           std::wstring applicationId,
                                           std::shared_ptr<LinkHealth> health,
                                           std::wstring fileName, std::int64_t bytesAnnounced)
    : listener_(std::move(listener)),
      application_id_(std::move(applicationId)),
      health_(std::move(health)),
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
  Report(Progress(bytesReceived));
}

void FileProgressReporter::Finished(bool stored, const std::wstring& text) {
  std::int64_t received = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_) return;
    finished_ = true;
    received = bytes_received_;
  }
  if (stored && health_) health_->OnFileReceived();
  FileProgress progress = Progress(received);
  progress.finished = true;
  progress.stored = stored;
  progress.text = text;
  Report(progress);
}

FileProgress FileProgressReporter::Progress(std::int64_t bytesReceived) const {
  FileProgress progress;
  progress.applicationId = application_id_;
  progress.fileName = file_name_;
  progress.bytesReceived = bytesReceived;
  progress.bytesAnnounced = bytes_announced_;
  return progress;
}

void FileProgressReporter::Report(const FileProgress& progress) const {
  listener_->NotifyObserver([&](QuellorObserver& observer) { observer.OnFileProgress(progress); });
}

}  // namespace Client
}  // namespace Corvane
