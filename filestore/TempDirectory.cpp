#include "filestore/TempDirectory.h"

#include <filesystem>

#include "platform/TextConversion.h"
#include "platform/UserDirectories.h"
#include "platform/WideError.h"

namespace Corvane {
namespace File {

std::string TempDirectoryPath(const std::wstring& moduleDirectory) {
  return Platform::ChooseTempDirectory(moduleDirectory);
}

std::uintmax_t RemoveDirectoryTree(const std::string& directory) {
  try {
    return std::filesystem::remove_all(directory);
  } catch (const std::exception& e) {
    throw Platform::WideError(Platform::FromUtf8(e.what()));
  }
}

}  // namespace File
}  // namespace Corvane
