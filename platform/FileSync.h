#pragma once
// Puts what was written on the disk itself, so that it survives a power loss
// or a crash of the system: a file's data, and a directory's entries (a new
// name made by a rename lives in its directory).

#include <cstdint>
#include <string>

namespace Corvane {
namespace Platform {

/// Waits until the data of the file `path` (UTF-8) is on the disk. Empty on
/// success, otherwise the system's text ("fdatasync: …").
std::string SyncFileData(const std::string& path);

/// Asks the system to start writing the file's dirty pages between `offset`
/// and `offset + length` to the disk now, without waiting for them, so that
/// a later SyncFileData has little left to wait for. Best effort: a failure
/// here shows in that sync.
void StartWriteback(int descriptor, std::uint64_t offset, std::uint64_t length);

/// Waits until the entries of the directory `path` (UTF-8) are on the disk.
/// Empty on success, otherwise the system's text.
std::string SyncDirectory(const std::string& path);

}  // namespace Platform
}  // namespace Corvane
