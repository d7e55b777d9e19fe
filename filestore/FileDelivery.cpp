#include "filestore/FileDelivery.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>

#include "platform/WideError.h"
#include "filestore/File.h"
#include "platform/FileSync.h"
#include "platform/TextConversion.h"

namespace Corvane {
namespace File {

namespace fs = std::filesystem;

namespace {

// The destinations owned by deliveries in progress, process-wide (two
// engines may share a file directory).
struct OwnedNames {
  std::mutex mutex;
  std::condition_variable released;
  std::set<std::string> names;
};

OwnedNames& Owned() {
  static OwnedNames owned;
  return owned;
}

std::string AsideName(const std::string& directory) {
  static std::atomic<unsigned long> counter{0};
  return directory + "/.corvane-replaced-" + std::to_string(::getpid()) + "-" +
         std::to_string(++counter);
}

struct SyncSetting {
  std::mutex mutex;
  std::shared_ptr<const FileDelivery::DiskSync> sync;
};

SyncSetting& Sync() {
  static SyncSetting setting;
  return setting;
}

std::shared_ptr<const FileDelivery::DiskSync> CurrentSync() {
  SyncSetting& setting = Sync();
  std::lock_guard<std::mutex> lock(setting.mutex);
  if (!setting.sync) {
    setting.sync = std::make_shared<FileDelivery::DiskSync>(
        FileDelivery::DiskSync{Platform::SyncFileData, Platform::SyncDirectory});
  }
  return setting.sync;
}

}  // namespace

void FileDelivery::PrepareNameTable() {
  Owned();
  CurrentSync();
}

void FileDelivery::SetDiskSync(std::shared_ptr<const DiskSync> sync) {
  SyncSetting& setting = Sync();
  std::lock_guard<std::mutex> lock(setting.mutex);
  setting.sync = std::move(sync);
}

FileDelivery::FileDelivery(std::wstring directory, std::wstring name,
                           std::chrono::milliseconds wait)
    : directory_(std::move(directory)),
      name_(std::move(name)),
      destination_(Platform::ToUtf8(directory_) + "/" + Platform::ToUtf8(name_)) {
  OwnedNames& owned = Owned();
  std::unique_lock<std::mutex> lock(owned.mutex);
  if (!owned.released.wait_for(lock, wait, [&] { return owned.names.count(destination_) == 0; })) {
    throw Platform::WideError(L"Another delivery of \"" + name_ +
                             L"\" is still waiting for its answer");
  }
  owned.names.insert(destination_);
  owned_ = true;
}

FileDelivery::~FileDelivery() {
  if (owned_) Rollback();
}

void FileDelivery::Move(File& file) {
  const auto sync = CurrentSync();
  const std::string source = Platform::ToUtf8(file.GetPath());
  // The data first: a rename that reaches the disk before the data would
  // leave the name empty or short after a crash.
  std::string failure = sync->fileData(source);
  if (!failure.empty()) {
    throw Platform::WideError(L"The file could not be put on the disk: " +
                             Platform::FromUtf8(failure));
  }
  struct stat before {};
  const bool sourceKnown = ::lstat(source.c_str(), &before) == 0;

  std::error_code error;
  const std::string directory = Platform::ToUtf8(directory_);
  if (fs::is_regular_file(fs::symlink_status(destination_, error))) {
    const std::string aside = AsideName(directory);
    fs::rename(destination_, aside, error);
    if (!error) aside_ = aside;
  }
  try {
    file.MoveTo(directory_, name_);
  } catch (...) {
    if (!aside_.empty()) {
      fs::rename(aside_, destination_, error);
      aside_.clear();
    }
    throw;
  }
  moved_ = true;
  struct stat status {};
  if (::lstat(destination_.c_str(), &status) == 0) {
    device_ = status.st_dev;
    inode_ = status.st_ino;
  }
  // Moved to another file system, the file was copied: its copy's data too.
  if (!sourceKnown || before.st_dev != device_) failure = sync->fileData(destination_);
  // Then the new name.
  if (failure.empty()) failure = sync->directory(directory);
  if (!failure.empty()) {
    Undo();
    throw Platform::WideError(L"The file could not be put on the disk: " +
                             Platform::FromUtf8(failure));
  }
}

void FileDelivery::Commit() {
  if (!owned_) return;
  if (!aside_.empty()) {
    std::error_code ignored;
    fs::remove(aside_, ignored);
    aside_.clear();
  }
  Release();
}

void FileDelivery::Rollback() {
  if (!owned_) return;
  Undo();
  Release();
}

void FileDelivery::Undo() {
  std::error_code ignored;
  bool ours = false;
  if (moved_) {
    struct stat status {};
    ours = ::lstat(destination_.c_str(), &status) == 0 && status.st_dev == device_ &&
           status.st_ino == inode_;
  }
  bool changed = true;
  if (ours && !aside_.empty()) {
    // One step: the replaced file takes the name back, so the name never
    // stands empty in between.
    fs::rename(aside_, destination_, ignored);
  } else if (ours) {
    fs::remove(destination_, ignored);
  } else if (!aside_.empty() && !moved_) {
    fs::rename(aside_, destination_, ignored);
  } else {
    changed = false;
  }
  // A replaced file whose name someone else has taken since stays aside
  // rather than overwrite what is there now.
  aside_.clear();
  moved_ = false;
  // The file put back is the one its sender was told of: it must stay.
  if (changed) CurrentSync()->directory(Platform::ToUtf8(directory_));
}

void FileDelivery::Release() {
  OwnedNames& owned = Owned();
  {
    std::lock_guard<std::mutex> lock(owned.mutex);
    owned.names.erase(destination_);
  }
  owned.released.notify_all();
  owned_ = false;
}

}  // namespace File
}  // namespace Corvane
