#include "filestore/FileFactoryImpl.h"

#include <filesystem>
#include <utility>

#include "filestore/FileImpl.h"
#include "filestore/TempDirectory.h"
#include "platform/ModuleDirectory.h"
#include "platform/TextConversion.h"

namespace Corvane {
namespace File {

FileFactoryImpl::FileFactoryImpl()
    : FileFactoryImpl(TempDirectoryPath(Platform::EngineModuleDirectory())) {}

FileFactoryImpl::FileFactoryImpl(std::string tempDirectory)
    : temp_directory_(std::move(tempDirectory)) {}

std::shared_ptr<File> FileFactoryImpl::NewFile() {
  return std::make_shared<FileImpl>(temp_directory_);
}

std::shared_ptr<File> FileFactoryImpl::NewFile(const File& other) {
  if (const auto* same = dynamic_cast<const FileImpl*>(&other)) {
    return std::make_shared<FileImpl>(same->GetTempDirectory(), same->GetNativePath());
  }
  const std::string path = Platform::ToUtf8(other.GetPath());
  return std::make_shared<FileImpl>(std::filesystem::path(path).parent_path().string(), path);
}

}  // namespace File
}  // namespace Corvane
