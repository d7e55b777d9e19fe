#pragma once
// Disk space promised to files still arriving, per file system: a transfer
// is admitted against what the others have not written yet, so that two
// large files that each fit alone, but not together, are not both accepted
// only to fail when the disk fills.
//
// Thread-safety: every member may be called from any thread.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace Corvane {
namespace Client {

class SpaceReservations {
 public:
  /// One transfer's promise, given back as its bytes arrive and in full when
  /// it is destroyed.
  class Reservation {
   public:
    ~Reservation();
    Reservation(const Reservation&) = delete;
    Reservation& operator=(const Reservation&) = delete;
    /// `bytes` more have been written: that much less is still promised.
    void Written(std::uint64_t bytes);

   private:
    friend class SpaceReservations;
    Reservation(SpaceReservations& owner, std::vector<std::uint64_t> devices, std::uint64_t size)
        : owner_(owner), devices_(std::move(devices)), remaining_(size) {}
    SpaceReservations& owner_;
    const std::vector<std::uint64_t> devices_;
    std::uint64_t remaining_;  // guarded by owner_.mutex_
  };

  /// A file system the file will occupy: its device and the bytes free on it now.
  struct Place {
    std::uint64_t device;
    std::uint64_t freeBytes;
  };

  /// The reservations of this process.
  static SpaceReservations& Process();

  /// Promises `size` bytes on each distinct device of `places` when each
  /// still has `size` plus `reserve` free beyond what is already promised
  /// there. Otherwise null, with `shortPlace` the index of the first place
  /// that lacks it and `available` what is left there.
  std::unique_ptr<Reservation> TryReserve(const std::vector<Place>& places, std::uint64_t size,
                                          std::uint64_t reserve, std::size_t& shortPlace,
                                          std::uint64_t& available);

  /// Bytes promised on `device` and not yet written.
  std::uint64_t Outstanding(std::uint64_t device) const;

 private:
  void Release(const std::vector<std::uint64_t>& devices, std::uint64_t bytes);

  mutable std::mutex mutex_;
  std::map<std::uint64_t, std::uint64_t> outstanding_;
};

}  // namespace Client
}  // namespace Corvane
