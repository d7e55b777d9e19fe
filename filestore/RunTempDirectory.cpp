#include "filestore/RunTempDirectory.h"

#include <unistd.h>

#include <filesystem>
#include <random>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "platform/FileLock.h"

namespace Corvane {
namespace File {

namespace fs = std::filesystem;

namespace {

// Plain arrays, not strings: the engine, and with it this, may be made
// while the library's statics are still being made.
constexpr char kRunPrefix[] = "run-";
constexpr char kLockSuffix[] = ".lock";

std::string NewRunName() {
  std::random_device random;
  const auto tag = (static_cast<unsigned long long>(random()) << 32) | random();
  return std::string(kRunPrefix) + std::to_string(::getpid()) + "-" + std::to_string(tag % 1000000007ULL);
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

RunTempDirectory::RunTempDirectory(std::string baseDirectory)
    : base_(std::move(baseDirectory)), name_(NewRunName()), path_(base_ + "/" + name_) {}

RunTempDirectory::~RunTempDirectory() = default;

void RunTempDirectory::Claim() {
  std::error_code error;
  if (!lock_) {
    fs::create_directories(base_, error);
    lock_ = Platform::FileLock::TryLock(base_ + "/" + name_ + std::string(kLockSuffix));
    if (!lock_) {
      throw std::runtime_error("cannot lock a temporary directory in " + base_);
    }
  }
  fs::create_directories(path_, error);
  // What no running engine owns: a run's directory and lock go together,
  // and a free lock means its engine is gone. Listed first, removed after.
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(base_, error), end; !error && it != end; it.increment(error)) {
    entries.push_back(it->path());
  }
  for (const fs::path& path : entries) {
    const std::string entry = path.filename().string();
    if (entry == name_ || entry == name_ + std::string(kLockSuffix)) continue;
    std::error_code ignored;
    if (entry.rfind(kRunPrefix, 0) == 0) {
      const std::string suffix = kLockSuffix;
      const std::string run =
          EndsWith(entry, suffix) ? entry.substr(0, entry.size() - suffix.size()) : entry;
      const std::string lockPath = base_ + "/" + run + kLockSuffix;
      if (fs::exists(lockPath, ignored)) {
        const auto owner = Platform::FileLock::TryLock(lockPath);
        if (!owner) continue;  // its engine runs
        fs::remove_all(base_ + "/" + run, ignored);
        fs::remove(lockPath, ignored);
        continue;
      }
    }
    fs::remove_all(path, ignored);
  }
}

void RunTempDirectory::Clear() {
  std::error_code ignored;
  for (fs::directory_iterator it(path_, ignored), end; !ignored && it != end;
       it.increment(ignored)) {
    std::error_code each;
    fs::remove_all(it->path(), each);
  }
}

}  // namespace File
}  // namespace Corvane
