#pragma once
// Puts a received file into the file directory so that the step can be taken
// back until the sender has been answered.
//
// A delivery owns its destination name from its construction until Commit or
// Rollback: a second delivery of the same name (from another connection)
// waits until then, so it never moves its file over one whose answer is still
// open, and a rollback never removes another delivery's file. A file the move
// replaced is kept aside under a hidden name in the same directory until the
// outcome is known: Commit removes it, Rollback puts it back. Rollback removes
// the moved file only while it is still the file this delivery put there
// (same device and inode).
//
// Nothing is reported delivered before it would survive a crash of the
// system: Move puts the file's data on the disk before the rename, and the
// directory's new entry after it; a step that fails takes the move back. A
// file put back by Rollback is synced into its directory the same way.
//
// Thread-safety: one delivery is used by one thread at a time; deliveries of
// any names may run on any threads at once.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace Corvane {
namespace File {

class File;

class FileDelivery {
 public:
  /// Waits until no other delivery owns `directory` + "/" + `name`, then owns
  /// it. Blocks on other deliveries only, never on the network; call it off
  /// the I/O thread. Throws Platform::WideError when the name is still owned after
  /// `wait`.
  FileDelivery(std::wstring directory, std::wstring name, std::chrono::milliseconds wait);
  /// Makes the process-wide table of owned names now. A library whose
  /// threads deliver files calls it before those threads can start, so that
  /// the table (a static) outlives them.
  static void PrepareNameTable();

  /// Rollback, unless Commit or Rollback has run.
  ~FileDelivery();
  FileDelivery(const FileDelivery&) = delete;
  FileDelivery& operator=(const FileDelivery&) = delete;

  /// How deliveries put data and names on the disk: each returns empty on
  /// success, else the failure's text. Tests replace them (SetDiskSync).
  struct DiskSync {
    std::function<std::string(const std::string& file)> fileData;
    std::function<std::string(const std::string& directory)> directory;
  };
  /// Replaces the disk syncs of every delivery in the process; null puts the
  /// system's back.
  static void SetDiskSync(std::shared_ptr<const DiskSync> sync);

  /// Syncs `file`'s data, moves it to the destination (File::MoveTo), first
  /// renaming a file already there aside, and syncs the directory. Throws
  /// what MoveTo throws, or wexception with the sync's text ("The file could
  /// not be put on the disk: …"); the file already there is then back in
  /// place and the moved file gone from the destination.
  void Move(File& file);
  /// The delivery stands: the file put aside goes. Releases the name.
  void Commit();
  /// The delivery is taken back: the moved file goes (if it is still this
  /// delivery's), the file put aside comes back. Releases the name. Never
  /// throws; what cannot be undone is logged.
  void Rollback();

 private:
  void Release();
  // Puts the replaced file back, or removes the moved one, if it is still
  // this delivery's; syncs the directory.
  void Undo();

  const std::wstring directory_;
  const std::wstring name_;
  const std::string destination_;  // UTF-8 path
  std::string aside_;              // the replaced file's hidden name; empty when none
  bool moved_ = false;
  dev_t device_ = 0;  // of the moved file
  ino_t inode_ = 0;
  bool owned_ = false;
};

}  // namespace File
}  // namespace Corvane
