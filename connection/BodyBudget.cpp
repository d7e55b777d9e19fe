#include "connection/BodyBudget.h"

namespace Corvane {
namespace Client {

BodyBudget::Claim& BodyBudget::Claim::operator=(Claim&& other) noexcept {
  if (this != &other) {
    Release();
    budget_ = std::move(other.budget_);
    bytes_ = other.bytes_;
    other.bytes_ = 0;
  }
  return *this;
}

void BodyBudget::Claim::Release() {
  if (budget_) budget_->in_use_.fetch_sub(bytes_);
  budget_.reset();
  bytes_ = 0;
}

bool BodyBudget::TryGrow(Claim& claim, std::uint64_t bytes) {
  if (bytes <= claim.bytes_) return true;
  if (claim.budget_ && claim.budget_.get() != this) claim.Release();
  const std::uint64_t more = bytes - claim.bytes_;
  std::uint64_t used = in_use_.load();
  do {
    if (more > limit_ || used > limit_ - more) return false;
  } while (!in_use_.compare_exchange_weak(used, used + more));
  if (!claim.budget_) claim.budget_ = shared_from_this();
  claim.bytes_ = bytes;
  return true;
}

bool BodyBudget::ShouldLogRefusal() {
  return refusal_log_.Note(std::string()) == Logging::ReportLimiter::Verdict::kReport;
}

}  // namespace Client
}  // namespace Corvane
