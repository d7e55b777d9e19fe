#pragma once
// A shared library loaded at run time by path, and the addresses of its
// exports. Each object holds its own reference on the library, so copies keep
// it loaded for as long as any of them lives.

#include <string>

namespace Corvane {
namespace Platform {

class DynamicLibrary {
 public:
  /// Why a load or a look-up failed: the system's error number (0 when the
  /// loader reports none) and the loader's text, with no line breaks.
  struct Failure {
    int code = 0;
    std::string text;
  };

  /// Not loaded.
  DynamicLibrary() = default;
  /// Loads `path` (all symbols bound at once, kept local). Check IsLoaded;
  /// GetLoadFailure tells why it is not.
  explicit DynamicLibrary(const std::string& path);
  /// Takes another reference on the same library.
  DynamicLibrary(const DynamicLibrary& other);
  DynamicLibrary& operator=(const DynamicLibrary& other);
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
  /// Drops this object's reference; the library is unloaded with the last one.
  ~DynamicLibrary();

  bool IsLoaded() const { return handle_ != nullptr; }
  const std::string& GetPath() const { return path_; }
  const Failure& GetLoadFailure() const { return failure_; }

  /// The address of export `name`; null and `failure` filled when the library
  /// is not loaded or has no such export.
  void* Symbol(const std::string& name, Failure& failure) const;

  /// Drops this object's reference now.
  void Unload();

 private:
  void Open();

  std::string path_;
  void* handle_ = nullptr;
  Failure failure_;
};

}  // namespace Platform
}  // namespace Corvane
