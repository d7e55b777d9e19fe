#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include "logging/ReportLimiter.h"

namespace Corvane {
namespace Client {

/// The memory all of an engine's connections together may hold for frame
/// bodies being read (XML text and the like; a file's bytes go to disk as
/// they arrive and hold nothing here). A connection's claim grows with the
/// body it has collected (an announced length reserves nothing) and goes
/// back when the frame is complete or dropped; a frame the budget cannot
/// hold ends its connection, so that many peers each sending a large
/// unfinished frame cannot drive the process out of memory.
///
/// Thread-safety: every member may be called from any thread.
class BodyBudget : public std::enable_shared_from_this<BodyBudget> {
 public:
  /// A part of the budget held; given back when it goes.
  class Claim {
   public:
    Claim() = default;
    Claim(Claim&& other) noexcept { *this = std::move(other); }
    Claim& operator=(Claim&& other) noexcept;
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;
    ~Claim() { Release(); }

    void Release();
    std::uint64_t Bytes() const { return bytes_; }

   private:
    friend class BodyBudget;
    Claim(std::shared_ptr<BodyBudget> budget, std::uint64_t bytes)
        : budget_(std::move(budget)), bytes_(bytes) {}
    std::shared_ptr<BodyBudget> budget_;
    std::uint64_t bytes_ = 0;
  };

  /// How often a refusal is logged at most.
  static constexpr std::chrono::seconds kLogInterval{60};

  explicit BodyBudget(std::uint64_t bytes) : limit_(bytes) {}

  /// Makes `claim` hold `bytes` in all (it never shrinks here), or returns
  /// false, leaving it as it was, when the budget would be exceeded.
  bool TryGrow(Claim& claim, std::uint64_t bytes);
  /// True at most once per kLogInterval: whether a refusal should be logged.
  bool ShouldLogRefusal();

  std::uint64_t Limit() const { return limit_; }
  std::uint64_t InUse() const { return in_use_.load(); }

 private:
  const std::uint64_t limit_;
  std::atomic<std::uint64_t> in_use_{0};
  Logging::ReportLimiter refusal_log_{1, kLogInterval};
};

}  // namespace Client
}  // namespace Corvane
