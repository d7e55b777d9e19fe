#pragma once
// The one file factory of the process, from which every received file takes
// its handle.

#include <memory>

#include "filestore/FileFactory.h"

namespace Corvane {
namespace File {

/// The process-wide factory: a FileFactoryImpl for the engine's temporary
/// directory, created on first use, unless one was set. Never null.
/// Thread-safe.
std::shared_ptr<FileFactory> ProcessFileFactory();

/// Makes `factory` the process-wide factory and returns the one it replaces
/// (null when none had been created yet); null brings back the default.
/// Meant for tests. Handles already created keep working. Thread-safe.
std::shared_ptr<FileFactory> SetProcessFileFactory(std::shared_ptr<FileFactory> factory);

}  // namespace File
}  // namespace Corvane
