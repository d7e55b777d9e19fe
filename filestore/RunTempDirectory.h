#pragma once
// This engine's own directory for files still being received or checked,
// inside the shared temporary directory beside the engine library. Several
// host processes may load one installation: each engine keeps to its own
// directory, claimed with a lock file beside it, and clears only its own and
// those whose owner is gone.
//
//   temp/run-<pid>-<random>/       files of the engine in process <pid>
//   temp/run-<pid>-<random>.lock   held while that engine lives
//
// Thread-safety: Claim and Clear belong to the engine's Start (one thread at
// a time); GetPath may be called from any thread.

#include <memory>
#include <string>

namespace Corvane {
namespace Platform {
class FileLock;
}
namespace File {

class RunTempDirectory {
 public:
  /// Names a directory of its own inside `baseDirectory` (UTF-8); touches
  /// nothing yet.
  explicit RunTempDirectory(std::string baseDirectory);
  ~RunTempDirectory();
  RunTempDirectory(const RunTempDirectory&) = delete;
  RunTempDirectory& operator=(const RunTempDirectory&) = delete;

  /// The directory this engine's temporary files go to.
  const std::string& GetPath() const { return path_; }

  /// Takes the lock (once; later calls do nothing), makes the directory, and
  /// removes from the base
  /// directory everything no running engine owns: loose entries and the
  /// directories whose lock is free. Throws std::runtime_error when the lock
  /// cannot be taken; removal failures of others' leftovers are skipped.
  void Claim();
  /// Empties this engine's own directory.
  void Clear();

 private:
  const std::string base_;
  const std::string name_;
  const std::string path_;
  std::unique_ptr<Platform::FileLock> lock_;
};

}  // namespace File
}  // namespace Corvane
