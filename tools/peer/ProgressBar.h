#pragma once
// A file's progress as a person watches it: on a terminal one bar redrawn in
// place (bytes, rate, time left); otherwise a plain line every tenth.

#include <chrono>
#include <cstdint>
#include <string>

namespace Corvane {
namespace Peer {

class ProgressBar {
 public:
  /// `total` bytes of `name`; draws on standard error.
  ProgressBar(std::string name, std::uint64_t total);
  /// `done` bytes have gone.
  void Update(std::uint64_t done);
  /// Draws the last state and ends the line.
  void Finish();

 private:
  void Draw(std::uint64_t done, bool last);

  const std::string name_;
  const std::uint64_t total_;
  const bool terminal_;
  const std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point drawn_{};
  int tenth_ = -1;
  std::uint64_t done_ = 0;
};

}  // namespace Peer
}  // namespace Corvane
