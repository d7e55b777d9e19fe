#include "tools/peer/ProgressBar.h"

#include <unistd.h>

#include <cstdio>

namespace Corvane {
namespace Peer {

namespace {

std::string Bytes(double bytes) {
  const char* units[] = {"B", "KiB", "MiB", "GiB"};
  int unit = 0;
  while (bytes >= 1024 && unit < 3) {
    bytes /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
  return text;
}

}  // namespace

ProgressBar::ProgressBar(std::string name, std::uint64_t total)
    : name_(std::move(name)),
      total_(total),
      terminal_(::isatty(STDERR_FILENO) != 0),
      start_(std::chrono::steady_clock::now()) {}

void ProgressBar::Update(std::uint64_t done) {
  done_ = done;
  const auto now = std::chrono::steady_clock::now();
  if (terminal_) {
    if (now - drawn_ < std::chrono::milliseconds(100)) return;
    drawn_ = now;
    Draw(done, false);
    return;
  }
  const int tenth = total_ == 0 ? 10 : static_cast<int>(done * 10 / total_);
  if (tenth == tenth_) return;
  tenth_ = tenth;
  Draw(done, false);
}

void ProgressBar::Finish() {
  // Plain lines have shown the last tenth already when the file went whole.
  if (!terminal_ && tenth_ == 10) return;
  Draw(done_, true);
}

void ProgressBar::Draw(std::uint64_t done, bool last) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  const double left = rate > 0 ? static_cast<double>(total_ - done) / rate : 0;
  const int percent = total_ == 0 ? 100 : static_cast<int>(done * 100 / total_);
  if (terminal_) {
    constexpr int kWidth = 30;
    const int filled = percent * kWidth / 100;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar += std::string(static_cast<std::size_t>(kWidth - filled), '-');
    std::fprintf(stderr, "\r%s [%s] %3d%%  %s of %s  %s/s  %.0f s left  ", name_.c_str(),
                 bar.c_str(), percent, Bytes(static_cast<double>(done)).c_str(),
                 Bytes(static_cast<double>(total_)).c_str(), Bytes(rate).c_str(), left);
    if (last) std::fprintf(stderr, "\n");
  } else {
    std::fprintf(stderr, "%s: %d%% (%s of %s, %s/s)\n", name_.c_str(), percent,
                 Bytes(static_cast<double>(done)).c_str(),
                 Bytes(static_cast<double>(total_)).c_str(), Bytes(rate).c_str());
  }
  std::fflush(stderr);
}

}  // namespace Peer
}  // namespace Corvane
