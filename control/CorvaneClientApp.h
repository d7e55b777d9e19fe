#pragma once
// The control module's application object: its version pair, its directory
// and the count of objects that keep it loaded.

#include <atomic>
#include <cstdint>
#include <string>

namespace Corvane {
namespace Control {

class CorvaneClientApp {
 public:
  /// The one application object, made (and initialised) on first use.
  static CorvaneClientApp& Instance();

  CorvaneClientApp(const CorvaneClientApp&) = delete;
  CorvaneClientApp& operator=(const CorvaneClientApp&) = delete;

  /// Reads the version pair from the module's version block.
  bool InitInstance();
  int ExitInstance() { return 0; }

  std::uint16_t GetMajorVersion() const { return major_; }
  std::uint16_t GetMinorVersion() const { return minor_; }
  /// The version word saved with the control's properties: the major version
  /// in the high 16 bits, the minor in the low.
  std::uint32_t GetVersionWord() const {
    return (static_cast<std::uint32_t>(major_) << 16) | minor_;
  }
  /// Sets the version pair from the version block compiled into the module.
  void SetVersionInformation();

  /// The directory of the control module's own file.
  const std::wstring& GetModuleDirectory() const { return module_directory_; }

  /// Every living control and application object holds one lock, so the
  /// module is not unloaded while a host keeps one. Thread-safe.
  void LockModule() { locks_.fetch_add(1); }
  void UnlockModule() { locks_.fetch_sub(1); }
  long GetLockCount() const { return locks_.load(); }

 private:
  CorvaneClientApp();

  std::uint16_t major_ = 1;
  std::uint16_t minor_ = 1;
  std::wstring module_directory_;
  std::atomic<long> locks_{0};
};

}  // namespace Control
}  // namespace Corvane
