#pragma once
// The file store's handle on the local file system.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "filestore/File.h"

namespace Corvane {
namespace File {

/// A File written through a buffered C stream in the temporary directory.
/// Paths are UTF-8 and joined with '/'. Names given to Open and MoveTo must
/// pass CheckFileName: a name that would choose a directory, or one too long
/// for the file system, is refused with that text and nothing is created.
///
/// Writes are buffered (kBufferSize bytes) and never flushed per chunk.
/// Every kWritebackBytes written, the system is asked to start putting them
/// on the disk, so that the sync before a file's delivery finds little left
/// to wait for: the disk works while the rest of the file still arrives.
/// A failed write throws from Append; a failure while Close writes out the
/// last buffered bytes is kept, and MoveTo refuses to move such a file, so a
/// truncated file is never delivered as complete.
///
/// Thread-safety: none; see File.
class FileImpl : public File {
 public:
  /// Size of the write buffer of an open file.
  static constexpr std::size_t kBufferSize = 256 * 1024;
  /// How much is written between two requests to start the disk writing.
  static constexpr std::size_t kWritebackBytes = 8 * kBufferSize;

  /// A handle in the engine's temporary directory ("temp" beside the engine
  /// library).
  FileImpl();
  /// A handle in `tempDirectory` (UTF-8), with no path yet.
  explicit FileImpl(std::string tempDirectory);
  /// A closed handle for the file at `path` (UTF-8), with `tempDirectory`
  /// as its temporary directory.
  FileImpl(std::string tempDirectory, std::string path);
  ~FileImpl() override;

  FileImpl(const FileImpl&) = delete;
  FileImpl& operator=(const FileImpl&) = delete;

  void Open(const std::wstring& name) override;
  void Append(const std::string& bytes) override;
  void Close() override;
  bool IsOpen() const override;
  std::wstring GetPath() const override;
  void MoveTo(const std::wstring& directory, const std::wstring& name) override;
  void Remove() override;
  std::uintmax_t ClearTempDirectory() override;
  void Append(const char* data, std::size_t size) override;
  std::wstring GetWriteFailure() const override { return write_failure_; }

  /// The temporary directory, UTF-8.
  const std::string& GetTempDirectory() const { return temp_directory_; }
  /// The current full path, UTF-8 (as used on disk).
  const std::string& GetNativePath() const { return path_; }

 private:
  // Copies the closed file to `destination` on another file system and
  // removes the original; the destination appears whole or not at all.
  void CopyAcross(const std::string& directory, const std::string& destination);

  std::string temp_directory_;
  std::string path_;
  std::FILE* stream_ = nullptr;
  std::unique_ptr<char[]> buffer_;  // the stream's buffer; outlives the stream
  std::wstring write_failure_;      // text of the first failed write, if any
  std::uint64_t appended_ = 0;      // bytes given to the open stream
  std::uint64_t written_back_ = 0;  // bytes the disk was asked to write
};

}  // namespace File
}  // namespace Corvane
