#pragma once

#include <cstdint>
#include <string>

namespace Corvane {
namespace File {

/// The directory where incoming files wait until they are checked: "temp"
/// inside the engine library's module directory, or where that is not
/// writable, a per-user one (see ChooseTempDirectory).
std::string TempDirectoryPath(const std::wstring& moduleDirectory);

/// Removes `directory` with everything in it and returns the number of entries
/// removed, the directory itself included; 0 when it does not exist. Throws
/// Platform::WideError with the file system's text on failure.
std::uintmax_t RemoveDirectoryTree(const std::string& directory);

}  // namespace File
}  // namespace Corvane
