#pragma once
// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.

#include <filesystem>
#include <string>

namespace Corvane {
namespace Testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::wstring WidePath() const { return path_.wstring(); }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  /// Writes `content` to `name` inside the directory and returns its path.
  std::filesystem::path WriteFile(const std::string& name, const std::string& content) const;

 private:
  std::filesystem::path path_;
};

/// The whole content of a file; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

}  // namespace Testing
}  // namespace Corvane
