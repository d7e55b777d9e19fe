#include "platform/FileChangeWatch.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "support/TempDir.h"

namespace Corvane {
namespace Platform {
namespace {

namespace fs = std::filesystem;
using Testing::TempDir;

// Inotify instances this process holds open.
int InotifyInstances() {
  int count = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const fs::path target = fs::read_symlink(entry.path(), error);
    count += !error && target.string() == "anon_inode:inotify";
  }
  return count;
}

TEST(FileChangeWatchTest, TheCountMovesAtEveryChangeOfItsFileAndOnlyThen) {
  TempDir dir;
  const FileChangeWatch watch((dir / "watched.ini").string());
  auto count = watch.Generation();
  ASSERT_TRUE(count.has_value());
  auto moved = [&] {
    const auto now = watch.Generation();
    EXPECT_TRUE(now.has_value());
    const bool changed = now != count;
    count = now;
    return changed;
  };
  EXPECT_FALSE(moved());

  dir.WriteFile("watched.ini", "a");  // created
  EXPECT_TRUE(moved());
  EXPECT_FALSE(moved());
  dir.WriteFile("other.ini", "b");  // a neighbour
  EXPECT_FALSE(moved());
  dir.WriteFile("watched.ini", "c");  // the same size, within the same tick
  EXPECT_TRUE(moved());
  dir.WriteFile("watched.ini.new", "d");
  fs::rename(dir / "watched.ini.new", dir / "watched.ini");  // replaced
  EXPECT_TRUE(moved());
  fs::last_write_time(dir / "watched.ini", fs::file_time_type::clock::now());  // touched
  EXPECT_TRUE(moved());
  fs::remove(dir / "watched.ini");
  EXPECT_TRUE(moved());
  EXPECT_FALSE(moved());
}

TEST(FileChangeWatchTest, ALinkOrAGoneDirectoryIsNotVouchedFor) {
  TempDir dir;
  dir.WriteFile("target.ini", "a");
  fs::create_symlink(dir / "target.ini", dir / "linked.ini");
  const FileChangeWatch linked((dir / "linked.ini").string());
  EXPECT_FALSE(linked.Generation().has_value());
  // Replaced by a plain file, it is watched again.
  fs::remove(dir / "linked.ini");
  dir.WriteFile("linked.ini", "b");
  EXPECT_TRUE(linked.Generation().has_value());
  // And a link made later is noticed.
  fs::remove(dir / "linked.ini");
  fs::create_symlink(dir / "target.ini", dir / "linked.ini");
  EXPECT_FALSE(linked.Generation().has_value());

  const FileChangeWatch nowhere((dir / "missing" / "x.ini").string());
  EXPECT_FALSE(nowhere.Generation().has_value());

  fs::create_directory(dir / "sub");
  const FileChangeWatch inside((dir / "sub" / "x.ini").string());
  EXPECT_TRUE(inside.Generation().has_value());
  fs::rename(dir / "sub", dir / "moved");  // the path no longer leads there
  EXPECT_FALSE(inside.Generation().has_value());
  fs::remove_all(dir / "moved");
  EXPECT_FALSE(inside.Generation().has_value());
}

TEST(FileChangeWatchTest, WatchesOfOneDirectoryShareItAndTheLastClosesTheInstance) {
  const int before = InotifyInstances();
  {
    TempDir dir;
    auto first = std::make_unique<FileChangeWatch>((dir / "a.ini").string());
    const FileChangeWatch second((dir / "b.ini").string());
    const FileChangeWatch again((dir / "a.ini").string());
    EXPECT_LE(InotifyInstances(), 1);
    // One watch gone, the others still see their files change.
    const auto a = again.Generation();
    const auto b = second.Generation();
    first.reset();
    dir.WriteFile("a.ini", "x");
    dir.WriteFile("b.ini", "y");
    EXPECT_NE(a, again.Generation());
    EXPECT_NE(b, second.Generation());
    ASSERT_TRUE(again.Generation().has_value());
  }
  EXPECT_EQ(before, InotifyInstances());
}

}  // namespace
}  // namespace Platform
}  // namespace Corvane
