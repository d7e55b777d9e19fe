#include "connection/SpaceReservations.h"

#include <algorithm>

namespace Corvane {
namespace Client {

SpaceReservations& SpaceReservations::Process() {
  static SpaceReservations reservations;
  return reservations;
}

std::unique_ptr<SpaceReservations::Reservation> SpaceReservations::TryReserve(
    const std::vector<Place>& places, std::uint64_t size, std::uint64_t reserve,
    std::size_t& shortPlace, std::uint64_t& available) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::uint64_t> devices;
  for (std::size_t i = 0; i < places.size(); ++i) {
    const Place& place = places[i];
    if (std::find(devices.begin(), devices.end(), place.device) != devices.end()) continue;
    const auto promised = outstanding_.find(place.device);
    const std::uint64_t taken = promised == outstanding_.end() ? 0 : promised->second;
    available = place.freeBytes > taken ? place.freeBytes - taken : 0;
    if (available < size || available - size < reserve) {
      shortPlace = i;
      return nullptr;
    }
    devices.push_back(place.device);
  }
  for (const std::uint64_t device : devices) outstanding_[device] += size;
  return std::unique_ptr<Reservation>(new Reservation(*this, std::move(devices), size));
}

std::uint64_t SpaceReservations::Outstanding(std::uint64_t device) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = outstanding_.find(device);
  return found == outstanding_.end() ? 0 : found->second;
}

void SpaceReservations::Release(const std::vector<std::uint64_t>& devices, std::uint64_t bytes) {
  for (const std::uint64_t device : devices) {
    auto found = outstanding_.find(device);
    if (found == outstanding_.end()) continue;
    found->second -= std::min(found->second, bytes);
    if (found->second == 0) outstanding_.erase(found);
  }
}

void SpaceReservations::Reservation::Written(std::uint64_t bytes) {
  std::lock_guard<std::mutex> lock(owner_.mutex_);
  bytes = std::min(bytes, remaining_);
  remaining_ -= bytes;
  owner_.Release(devices_, bytes);
}

SpaceReservations::Reservation::~Reservation() {
  std::lock_guard<std::mutex> lock(owner_.mutex_);
  owner_.Release(devices_, remaining_);
}

}  // namespace Client
}  // namespace Corvane
