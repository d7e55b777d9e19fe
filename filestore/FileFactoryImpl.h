#pragma once
// The factory of FileImpl handles.

#include <memory>
#include <string>

#include "filestore/FileFactory.h"

namespace Corvane {
namespace File {

/// Creates FileImpl handles in one temporary directory, fixed at
/// construction. Thread-safe: it holds no state that changes.
class FileFactoryImpl : public FileFactory {
 public:
  /// Handles in the engine's temporary directory ("temp" beside the engine
  /// library).
  FileFactoryImpl();
  /// Handles in `tempDirectory` (UTF-8).
  explicit FileFactoryImpl(std::string tempDirectory);

  /// A FileImpl in the factory's temporary directory, with no path.
  std::shared_ptr<File> NewFile() override;
  /// A FileImpl with the temporary directory and path of `other` when it is
  /// a FileImpl; for another kind of handle its GetPath and that path's
  /// parent directory as temporary directory.
  std::shared_ptr<File> NewFile(const File& other) override;

  /// The temporary directory of new handles, UTF-8.
  const std::string& GetTempDirectory() const { return temp_directory_; }

 private:
  std::string temp_directory_;
};

}  // namespace File
}  // namespace Corvane
