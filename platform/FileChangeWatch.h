#pragma once
// Tells whether a file may have changed since it was last looked at, from
// the kernel's change notifications (inotify) on the directory that holds
// it, without a stat() of its path. A notification is queued by the call
// that changes the file, before that call returns, so a look taken after an
// edit always sees it, even an edit within one tick of the file clock that
// leaves the file's times and size as they were.
//
// Some changes raise no notification on that directory: an edit of the
// target of a symbolic link, or of the file through a hard link elsewhere,
// or a directory above it renamed. A watch that cannot vouch for its file
// (the name is a symbolic link, the directory is on a network or cluster
// file system whose other machines' edits raise no notification here, it
// cannot be watched or has gone, the kernel's queue of notifications
// overflowed, no inotify instance could be had) says so, and the caller
// looks at the file itself.
//
// One inotify instance serves the process; each watched directory is
// watched once, however many watches name files in it.
//
// Thread-safety: every operation may be called from any thread at once.
// Failures: none are reported; a watch that could not be set up vouches for
// nothing.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace Corvane {
namespace Platform {

class FileChangeNotifications;

class FileChangeWatch {
 public:
  /// Watches the file `path` (UTF-8) names; the file need not exist.
  explicit FileChangeWatch(std::string path);
  ~FileChangeWatch();
  FileChangeWatch(const FileChangeWatch&) = delete;
  FileChangeWatch& operator=(const FileChangeWatch&) = delete;

  /// A count that moves on at every notified change of the file, taken after
  /// every notification queued so far: equal counts mean nothing changed in
  /// between. Empty when the watch cannot vouch for the file now.
  std::optional<std::uint64_t> Generation() const;

 private:
  friend class FileChangeNotifications;  // the process's inotify instance
  struct Directory;
  struct Name;

  const std::string path_;
  std::shared_ptr<Directory> directory_;  // null when not watched
  Name* name_ = nullptr;                  // in directory_, while it is watched
};

}  // namespace Platform
}  // namespace Corvane
