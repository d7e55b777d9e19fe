#include "connection/SpaceReservations.h"

#include <gtest/gtest.h>

namespace Corvane {
namespace Client {
namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

// Two transfers of 249 MiB on a disk with 400 MiB free and 64 MiB kept in
// reserve: the first is admitted, the second is refused at once instead of
// both failing when the disk fills. What the first has written no longer
// counts as promised, and its end gives back the rest.
TEST(SpaceReservationsTest, ConcurrentTransfersAreAdmittedAgainstWhatIsLeft) {
  SpaceReservations reservations;
  std::size_t shortPlace = 9;
  std::uint64_t available = 0;
  const std::vector<SpaceReservations::Place> disk{{7, 400 * kMiB}, {7, 400 * kMiB}};
  auto first = reservations.TryReserve(disk, 249 * kMiB, 64 * kMiB, shortPlace, available);
  ASSERT_TRUE(first);
  EXPECT_EQ(249 * kMiB, reservations.Outstanding(7));  // one file system: counted once

  EXPECT_FALSE(reservations.TryReserve(disk, 249 * kMiB, 64 * kMiB, shortPlace, available));
  EXPECT_EQ(0u, shortPlace);
  EXPECT_EQ(151 * kMiB, available);

  // Half written: the disk shows it as used, the promise shrinks by as much.
  first->Written(100 * kMiB);
  EXPECT_EQ(149 * kMiB, reservations.Outstanding(7));
  first.reset();
  EXPECT_EQ(0u, reservations.Outstanding(7));
  EXPECT_TRUE(reservations.TryReserve(disk, 249 * kMiB, 64 * kMiB, shortPlace, available));
}

TEST(SpaceReservationsTest, EachFileSystemMustHoldTheFile) {
  SpaceReservations reservations;
  std::size_t shortPlace = 9;
  std::uint64_t available = 0;
  // Temporary files on one disk, the file directory on another, fuller one.
  EXPECT_FALSE(reservations.TryReserve({{1, 900 * kMiB}, {2, 100 * kMiB}}, 50 * kMiB, 64 * kMiB,
                                       shortPlace, available));
  EXPECT_EQ(1u, shortPlace);
  EXPECT_EQ(0u, reservations.Outstanding(1));  // nothing is kept of a refusal
  auto both = reservations.TryReserve({{1, 900 * kMiB}, {2, 200 * kMiB}}, 50 * kMiB, 64 * kMiB,
                                      shortPlace, available);
  ASSERT_TRUE(both);
  EXPECT_EQ(50 * kMiB, reservations.Outstanding(1));
  EXPECT_EQ(50 * kMiB, reservations.Outstanding(2));
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
