#pragma once
// One file being received: written in the engine's temporary directory while
// it arrives, then moved under its final name into the file directory or
// removed.

#include <cstddef>
#include <cstdint>
#include <string>

namespace Corvane {
namespace File {

/// The handle of one received file. Held through shared pointers.
///
/// Thread-safety: none. A handle is used by one thread at a time (the reader
/// that writes it, then the thread that checks and moves it).
///
/// Failures of Open, Append, MoveTo, Remove and ClearTempDirectory are thrown
/// as Platform::WideError whose text is the underlying error's text.
class File {
 public:
  /// Closes the file if it is still open.
  virtual ~File() = default;

  /// Creates (or truncates) `name` in the temporary directory for writing and
  /// makes it the current path. The temporary directory is created with its
  /// missing parents. `name` must pass CheckFileName (see FileName.h);
  /// anything else is refused. An open file is closed first.
  virtual void Open(const std::wstring& name) = 0;

  /// Writes `bytes` after what was written so far. Throws when the file is
  /// not open or the bytes cannot be written; a handle whose write failed
  /// keeps failing and is never moved.
  virtual void Append(const std::string& bytes) = 0;

  /// Closes the file; never throws. Buffered bytes that cannot be written
  /// make the handle failed: a later MoveTo then throws that failure.
  virtual void Close() = 0;

  /// Whether the file is open for writing.
  virtual bool IsOpen() const = 0;

  /// The current full path; empty before the first Open.
  virtual std::wstring GetPath() const = 0;

  /// Moves the file to `directory` + "/" + `name`, creating the directory
  /// with its missing parents and replacing a file of that name; the
  /// destination becomes the current path. `name` must pass CheckFileName.
  /// An open file is closed first. A handle whose writing failed is not
  /// moved (the failure is thrown). The file is never lost: on failure it
  /// stays where it was.
  virtual void MoveTo(const std::wstring& directory, const std::wstring& name) = 0;

  /// Removes the file at the current path if there is one; closes it first.
  virtual void Remove() = 0;

  /// Removes the temporary directory with everything in it and returns the
  /// number of entries removed, the directory itself included; 0 when it
  /// does not exist.
  virtual std::uintmax_t ClearTempDirectory() = 0;

  /// Append without building a string: the reader's path for every chunk.
  virtual void Append(const char* data, std::size_t size) = 0;
  /// The text of the first write that failed, in Append or while Close wrote
  /// out buffered bytes; empty while every write has succeeded. Lets the
  /// writer see a failure that Close kept instead of throwing.
  virtual std::wstring GetWriteFailure() const = 0;
};

}  // namespace File
}  // namespace Corvane
