#pragma once

namespace Corvane {
namespace Client {

class Quellor;

/// The engine library's application object: one static instance, constructed
/// when the library is loaded and destroyed when it is unloaded. It owns the
/// one engine object.
class TarnlinkApp {
 public:
  TarnlinkApp();
  ~TarnlinkApp();
  TarnlinkApp(const TarnlinkApp&) = delete;
  TarnlinkApp& operator=(const TarnlinkApp&) = delete;

  /// Creates the engine; false (and no engine) when its construction fails.
  bool InitInstance();
  /// Clears the engine's listener and deletes it (which stops it).
  int ExitInstance();
  /// The engine as the host holds it (a HostQuellor around the Tarnlink), or
  /// null before a successful InitInstance.
  Quellor* GetQuellor() const { return quellor_; }

 private:
  Quellor* quellor_ = nullptr;
};

}  // namespace Client
}  // namespace Corvane
