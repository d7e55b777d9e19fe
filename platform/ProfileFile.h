#pragma once
// Reader of private profile (INI) files with the lookup rules of the Windows
// profile API, so that a logger.ini written for Windows reads the same here.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/FileChangeWatch.h"

namespace Corvane {
namespace Platform {

/// One profile file, named by path. Lookups follow the Windows rules:
/// - section and key names are matched without regard to case (ASCII letters,
///   other letters through towlower); values are returned exactly;
/// - white space around section names, keys and values is trimmed, and one
///   pair of matching enclosing quotes (" or ') is removed from a value;
/// - a value (or default) is cut to kValueBufferSize - 1 characters, as the
///   Windows 260-character buffer cuts it;
/// - the default is returned when the file, the section or the key is missing;
///   only the first section of a name and its first key of a name count;
/// - lines whose first non-blank character is ';' are comments; lines outside
///   a section and lines without '=' are ignored.
/// The file is UTF-8, with or without a byte-order mark; CR LF line ends are
/// accepted.
///
/// The parsed file is cached, and an edit becomes visible to the next lookup.
/// A lookup takes in the kernel's change notifications for the file
/// (FileChangeWatch) and reads the file again after any; where those cannot
/// vouch for the file, each lookup costs one stat() and the file is parsed
/// again only when its modification time, size or inode changed.
///
/// Thread-safety: every operation may be called from any thread at once.
/// Failures: none are reported; an unreadable file reads as missing.
class ProfileFile {
 public:
  /// Buffer of the Windows profile calls, in characters, terminator included.
  static constexpr std::size_t kValueBufferSize = 260;

  /// `path` is a UTF-8 file-system path; the file need not exist.
  explicit ProfileFile(std::string path);
  ~ProfileFile();
  ProfileFile(const ProfileFile&) = delete;
  ProfileFile& operator=(const ProfileFile&) = delete;

  /// The value of `key` in `section`, or `defaultValue`; see the class rules.
  std::wstring GetString(const std::wstring& section, const std::wstring& key,
                         const std::wstring& defaultValue) const;

  /// The value of `key` in `section`, else that of `fallbackKey`, else
  /// `defaultValue`, from one reading of the file.
  std::wstring GetString(const std::wstring& section, const std::wstring& key,
                         const std::wstring& fallbackKey, const std::wstring& defaultValue) const;

  /// The value of `key` read as a decimal integer like GetPrivateProfileInt:
  /// leading blanks and one sign are skipped, then the leading digits are
  /// read (none gives 0, overflow wraps around modulo 2^32). `defaultValue`
  /// when the key is missing or its value is empty.
  int GetInt(const std::wstring& section, const std::wstring& key, int defaultValue) const;

  /// The parsed file as it is now (parsed again only when it changed).
  /// Equal pointers mean the same reading of the file, so a caller may keep
  /// what it looked up in one snapshot for as long as the next snapshot is
  /// the same.
  struct Contents;
  std::shared_ptr<const Contents> Snapshot() const { return Current(); }
  /// GetString with a fallback key, looked up in `snapshot`.
  std::wstring GetString(const Contents& snapshot, const std::wstring& section,
                         const std::wstring& key, const std::wstring& fallbackKey,
                         const std::wstring& defaultValue) const;

  const std::string& GetPath() const { return path_; }

 private:
  struct FileStamp;

  /// The parsed file as it is now; re-parses when the file changed.
  std::shared_ptr<const Contents> Current() const;
  static FileStamp ReadStamp(const std::string& path);
  static std::shared_ptr<const Contents> Parse(const std::string& path);
  /// The raw (untrimmed-by-buffer) value, or null when missing.
  const std::wstring* Find(const Contents& contents, const std::wstring& section,
                           const std::wstring& key) const;

  const std::string path_;
  const FileChangeWatch watch_;
  mutable std::mutex mutex_;
  mutable std::unique_ptr<FileStamp> stamp_;
  mutable std::shared_ptr<const Contents> contents_;
  // The watch's count when contents_ was read; empty when read by its stamp.
  mutable std::optional<std::uint64_t> generation_;
};

}  // namespace Platform
}  // namespace Corvane
