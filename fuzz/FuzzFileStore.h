#pragma once
// A BINDATA being read writes its data into a temporary file and logs what
// it refuses. The fuzz targets keep those files in a directory of their own
// run, under the system's temporary directory, removed when the run ends,
// and drop the log events instead of sending them to the system log.

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "filestore/FileFactoryImpl.h"
#include "filestore/ProcessFileFactory.h"
#include "platform/EventSink.h"

namespace CorvaneFuzz {

inline std::string& FileStoreDirectory() {
  static std::string directory;
  return directory;
}

class DroppingEventSink : public Corvane::Platform::EventSink {
 public:
  void Report(const std::wstring&, Corvane::Platform::EventType, std::uint32_t,
              const std::vector<std::wstring>&) override {}
};

inline void UsePrivateFileStore() {
  Corvane::Platform::InstallEventSink(std::make_shared<DroppingEventSink>());
  std::string pattern =
      (std::filesystem::temp_directory_path() / "corvane-fuzz-XXXXXX").string();
  if (!::mkdtemp(&pattern[0])) std::abort();
  FileStoreDirectory() = pattern;
  Corvane::File::SetProcessFileFactory(
      std::make_shared<Corvane::File::FileFactoryImpl>(pattern + "/temp"));
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(FileStoreDirectory(), ignored);
  });
}

}  // namespace CorvaneFuzz
