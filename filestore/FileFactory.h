#pragma once
// Creates the handles of received files.

#include <memory>

#include "filestore/File.h"

namespace Corvane {
namespace File {

/// Creates File handles. Thread-safety: implementations may be called from
/// any thread at the same time.
class FileFactory {
 public:
  virtual ~FileFactory() = default;
  /// A new handle with no path yet.
  virtual std::shared_ptr<File> NewFile() = 0;
  /// A new, closed handle for the same file as `other`.
  virtual std::shared_ptr<File> NewFile(const File& other) = 0;
};

}  // namespace File
}  // namespace Corvane
