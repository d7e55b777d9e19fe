#pragma once
// One descriptor held back for the moment the process runs out of them.
// Releasing it lets a listening socket accept one waiting connection and
// close it at once, so that the peer learns it was refused instead of waiting
// in the backlog, and the listener does not report the same shortage again
// and again for it.

namespace Corvane {
namespace Platform {

class SpareDescriptor {
 public:
  /// Takes the spare (a descriptor of /dev/null); none when that fails.
  SpareDescriptor();
  ~SpareDescriptor();
  SpareDescriptor(const SpareDescriptor&) = delete;
  SpareDescriptor& operator=(const SpareDescriptor&) = delete;

  /// Releases the spare, accepts one waiting connection on `listener` without
  /// blocking and closes it, then takes the spare again. True when a
  /// connection was shed.
  bool ShedOne(int listener);

  /// False when the process cannot open one more descriptor right now
  /// (its limit or the system's is reached).
  static bool OneMoreAvailable();

 private:
  int descriptor_ = -1;
};

}  // namespace Platform
}  // namespace Corvane
