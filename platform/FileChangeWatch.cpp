#include "platform/FileChangeWatch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <type_traits>
#include <utility>

namespace Corvane {
namespace Platform {

// A file name in a watched directory, shared by the watches that name it.
struct FileChangeWatch::Name {
  int watches = 0;
  std::uint64_t generation = 0;
  bool link = false;     // a symbolic link: its target's edits go unnotified
  bool recheck = false;  // created or moved in: whether it is a link is not known
};

// One watched directory; it outlives its inotify watch while watches hold it.
struct FileChangeWatch::Directory {
  int descriptor = -1;  // the inotify watch
  bool alive = true;    // false once the watch has ended: nothing is vouched for
  std::map<std::string, Name> names;
};

namespace {

constexpr std::uint32_t kEvents = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_MOVED_FROM |
                                  IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_DELETE_SELF |
                                  IN_MOVE_SELF | IN_ONLYDIR;
constexpr std::uint32_t kDirectoryEnded = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;

// Whether `directory` lies on a file system whose files other machines may
// change: their edits raise no notification here.
bool IsShared(const std::string& directory) {
  struct statfs info {};
  if (::statfs(directory.c_str(), &info) != 0) return true;
  switch (static_cast<unsigned long>(info.f_type)) {
    case 0x6969UL:      // NFS
    case 0x517BUL:      // SMB
    case 0xFF534D42UL:  // CIFS
    case 0xFE534D42UL:  // SMB2
    case 0x65735546UL:  // FUSE
    case 0x01021997UL:  // 9P
    case 0x00C36400UL:  // Ceph
    case 0x5346414FUL:  // AFS
    case 0x6B414653UL:  // kAFS
    case 0x47504653UL:  // GPFS
    case 0x0BD00BD0UL:  // Lustre
    case 0x013111A8UL:  // IBRIX
    case 0x73757245UL:  // Coda
    case 0x01161970UL:  // GFS2
    case 0x7461636FUL:  // OCFS2
      return true;
    default:
      return false;
  }
}

// The directory and the name within it that `path` gives.
std::pair<std::string, std::string> Split(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

bool IsLink(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

}  // namespace

// The process's inotify instance and its watched directories, by watch.
class FileChangeNotifications {
 public:
  using Directory = FileChangeWatch::Directory;

  // Made before any code runs and never destroyed (nothing to destroy: the
  // heap it uses is freed when nothing is watched), so that watches in static
  // objects may go in any order, and unloading the library leaves nothing.
  static FileChangeNotifications& Instance();

  std::mutex& Mutex() { return mutex_; }

  /// The directory `directory` names, watched; null when it cannot be.
  std::shared_ptr<Directory> WatchLocked(const std::string& directory) {
    // What is queued belongs to the watches as they were: taken in first, so
    // that a watch number the kernel hands out again is not confused.
    DrainLocked();
    // Without an instance (the process or its user has none left) the
    // file goes unwatched.
    if (descriptor_ < 0) descriptor_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (descriptor_ < 0) return nullptr;
    const int watch = ::inotify_add_watch(descriptor_, directory.c_str(), kEvents);
    if (watch < 0) {
      CloseIfUnusedLocked();
      return nullptr;
    }
    if (!directories_) directories_ = new std::map<int, std::shared_ptr<Directory>>;
    std::shared_ptr<Directory>& held = (*directories_)[watch];
    if (!held) {
      held = std::make_shared<Directory>();
      held->descriptor = watch;
    }
    return held;
  }

  /// A watch gave up its name; the directory's watch ends with its last name.
  void ReleaseLocked(Directory& directory, const std::string& name) {
    const auto found = directory.names.find(name);
    if (found != directory.names.end() && --found->second.watches == 0) {
      directory.names.erase(found);
    }
    if (directory.names.empty() && directory.alive) {
      directory.alive = false;
      directories_->erase(directory.descriptor);
      ::inotify_rm_watch(descriptor_, directory.descriptor);
    }
    CloseIfUnusedLocked();
  }

  /// Takes in every notification queued so far.
  void DrainLocked() {
    if (descriptor_ < 0) return;
    alignas(struct inotify_event) char buffer[8192];
    for (;;) {
      const ssize_t got = ::read(descriptor_, buffer, sizeof buffer);
      if (got <= 0) {
        if (got < 0 && errno == EINTR) continue;
        return;  // EAGAIN: nothing more queued
      }
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
        Apply(*event);
        at += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
      }
    }
  }

 private:
  // Nothing watched: the instance is not kept open, nor its table, for nothing.
  void CloseIfUnusedLocked() {
    if (directories_ && !directories_->empty()) return;
    delete directories_;
    directories_ = nullptr;
    if (descriptor_ < 0) return;
    ::close(descriptor_);
    descriptor_ = -1;
  }

  void Apply(const struct inotify_event& event) {
    if (event.mask & IN_Q_OVERFLOW) {
      // Changes were lost: no watched file can be vouched for any more.
      if (directories_) {
        for (auto& watched : *directories_) watched.second->alive = false;
        directories_->clear();
      }
      // A fresh instance for later watches, the old one's queue dropped.
      CloseIfUnusedLocked();
      return;
    }
    if (!directories_) return;
    const auto found = directories_->find(event.wd);
    if (found == directories_->end()) return;
    Directory& directory = *found->second;
    if (event.mask & kDirectoryEnded) {
      // Gone, moved or unmounted: the path no longer leads here.
      directory.alive = false;
      if (!(event.mask & IN_IGNORED)) ::inotify_rm_watch(descriptor_, event.wd);
      directories_->erase(found);
      return;
    }
    if (event.len == 0) return;
    const auto name = directory.names.find(std::string(event.name));
    if (name == directory.names.end()) return;
    ++name->second.generation;
    if (event.mask & (IN_CREATE | IN_MOVED_TO)) name->second.recheck = true;
  }

  std::mutex mutex_;
  int descriptor_ = -1;  // the inotify instance, open while anything is watched
  // The watched directories by watch; made with the first, freed with the last.
  std::map<int, std::shared_ptr<Directory>>* directories_ = nullptr;
};

static_assert(std::is_trivially_destructible<FileChangeNotifications>::value,
              "the notifications must outlive every static watch");

FileChangeNotifications& FileChangeNotifications::Instance() {
  static FileChangeNotifications instance;
  return instance;
}

FileChangeWatch::FileChangeWatch(std::string path) : path_(std::move(path)) {
  const auto [directory, name] = Split(path_);
  if (name.empty() || name == "." || name == "..") return;
  if (IsShared(directory)) return;

  FileChangeNotifications& notifications = FileChangeNotifications::Instance();
  std::lock_guard<std::mutex> lock(notifications.Mutex());
  directory_ = notifications.WatchLocked(directory);
  if (!directory_) return;
  Name& named = directory_->names[name];
  ++named.watches;
  // Looked at after the watch was set: a link made in between is notified.
  named.link = IsLink(path_);
  name_ = &named;
}

FileChangeWatch::~FileChangeWatch() {
  if (!directory_) return;
  FileChangeNotifications& notifications = FileChangeNotifications::Instance();
  std::lock_guard<std::mutex> lock(notifications.Mutex());
  notifications.ReleaseLocked(*directory_, Split(path_).second);
}

std::optional<std::uint64_t> FileChangeWatch::Generation() const {
  if (!directory_) return std::nullopt;
  FileChangeNotifications& notifications = FileChangeNotifications::Instance();
  std::lock_guard<std::mutex> lock(notifications.Mutex());
  notifications.DrainLocked();
  if (!directory_->alive) return std::nullopt;
  if (name_->recheck) {
    name_->recheck = false;
    name_->link = IsLink(path_);
  }
  if (name_->link) return std::nullopt;
  return name_->generation;
}

}  // namespace Platform
}  // namespace Corvane
