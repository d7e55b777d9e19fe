#pragma once
// What tells one version of a file from another without reading it: the
// device and inode it lives on, its size, and its modification and change
// times to the nanosecond. An edit in place changes the times; a replacement
// by rename changes the inode.

#include <cstdint>
#include <string>

namespace Corvane {
namespace Platform {

struct FileIdentity {
  bool exists = false;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::int64_t size = 0;
  std::int64_t modified_ns = 0;
  std::int64_t changed_ns = 0;

  /// The identity of the file `path` names now (symbolic links followed); a
  /// file that cannot be looked at has `exists` false.
  static FileIdentity Of(const std::wstring& path);

  bool operator==(const FileIdentity& other) const;
  bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

}  // namespace Platform
}  // namespace Corvane
