#include "control/VersionBlock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "control/CorvaneClientApp.h"
#include "control/ModuleVersion.h"

namespace Corvane {
namespace Control {
namespace {

using Block = std::vector<unsigned char>;

const VersionPair kInitial{1, 1};

std::uint32_t DoubleWordAt(const Block& block, std::size_t offset) {
  return static_cast<std::uint32_t>(block.at(offset)) |
         (static_cast<std::uint32_t>(block.at(offset + 1)) << 8) |
         (static_cast<std::uint32_t>(block.at(offset + 2)) << 16) |
         (static_cast<std::uint32_t>(block.at(offset + 3)) << 24);
}

std::uint16_t WordAt(const Block& block, std::size_t offset) {
  return static_cast<std::uint16_t>(block.at(offset) | (block.at(offset + 1) << 8));
}

void PutWord(Block& block, std::size_t offset, std::uint16_t value) {
  block.at(offset) = static_cast<unsigned char>(value & 0xFF);
  block.at(offset + 1) = static_cast<unsigned char>(value >> 8);
}

void PutDoubleWord(Block& block, std::size_t offset, std::uint32_t value) {
  PutWord(block, offset, static_cast<std::uint16_t>(value & 0xFFFF));
  PutWord(block, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

// A block of `size` zero bytes whose length word says `length`, with the
// signature at each of `signatures` followed 8 bytes later by `version`.
Block MakeBlock(std::size_t size, std::uint16_t length, const std::vector<std::size_t>& signatures,
                std::uint32_t version) {
  Block block(size, 0);
  PutWord(block, 0, length);
  for (std::size_t offset : signatures) {
    PutDoubleWord(block, offset, 0xFEEF04BDu);
    if (offset + 12 <= size) PutDoubleWord(block, offset + 8, version);
  }
  return block;
}

bool SameVersion(VersionPair a, VersionPair b) { return a.major == b.major && a.minor == b.minor; }

TEST(ModuleVersionBlockTest, IsAVersionInfoHeaderFollowedByFixedFileInfo) {
  const Block& block = ModuleVersionBlock();
  ASSERT_EQ(block.size(), 92u);
  EXPECT_EQ(WordAt(block, 0), 92u);  // total length
  EXPECT_EQ(WordAt(block, 2), 52u);  // value length: the fixed-file-info
  EXPECT_EQ(WordAt(block, 4), 0u);   // binary
  std::u16string key;
  for (std::size_t offset = 6; WordAt(block, offset) != 0; offset += 2) {
    key += static_cast<char16_t>(WordAt(block, offset));
  }
  EXPECT_EQ(key, u"VS_VERSION_INFO");
  EXPECT_EQ(WordAt(block, 38), 0u);  // padding to the 4-byte boundary

  const std::uint32_t high = (CORVANE_VERSION_MAJOR << 16) | CORVANE_VERSION_MINOR;
  const std::uint32_t low = (CORVANE_VERSION_PATCH << 16) | CORVANE_VERSION_TWEAK;
  const std::vector<std::uint32_t> expected = {
      0xFEEF04BDu, 0x00010000u, high, low, high, low, 0x3Fu, 0, 0, 2u /* DLL */, 0, 0, 0};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(DoubleWordAt(block, 40 + 4 * i), expected[i])
        << "word " << i << " of the fixed-file-info";
  }
}

TEST(ModuleVersionBlockTest, GivesTheApplicationItsVersionPair) {
  const VersionPair pair = ScanVersionBlock(ModuleVersionBlock(), kInitial);
  EXPECT_EQ(pair.major, CORVANE_VERSION_MAJOR);
  EXPECT_EQ(pair.minor, CORVANE_VERSION_MINOR);
  EXPECT_EQ(CorvaneClientApp::Instance().GetMajorVersion(), CORVANE_VERSION_MAJOR);
  EXPECT_EQ(CorvaneClientApp::Instance().GetMinorVersion(), CORVANE_VERSION_MINOR);
  EXPECT_EQ(CorvaneClientApp::Instance().GetVersionWord(),
            static_cast<std::uint32_t>((CORVANE_VERSION_MAJOR << 16) | CORVANE_VERSION_MINOR));
}

TEST(ScanVersionBlockTest, FileVersionGivesMajorAndMinorFromItsHighWord) {
  // 2.0.9.0 as the block of a real module holds it.
  Block block = MakeBlock(92, 92, {40}, 0x00020000u);
  PutDoubleWord(block, 52, 0x00090000u);
  EXPECT_TRUE(SameVersion(ScanVersionBlock(block, kInitial), {2, 0}));
  EXPECT_TRUE(
      SameVersion(ScanVersionBlock(MakeBlock(92, 92, {40}, 0x0003000Bu), kInitial), {3, 11}));
}

TEST(ScanVersionBlockTest, SignatureAtAnyByteOffsetCountsAndALaterMatchOverrides) {
  EXPECT_TRUE(SameVersion(ScanVersionBlock(MakeBlock(64, 64, {7}, 0x00050006u), kInitial), {5, 6}));
  Block block = MakeBlock(64, 64, {4, 30}, 0x00050006u);
  PutDoubleWord(block, 38, 0x00070008u);
  EXPECT_TRUE(SameVersion(ScanVersionBlock(block, kInitial), {7, 8}));
}

TEST(ScanVersionBlockTest, NothingFoundKeepsTheInitialPair) {
  EXPECT_TRUE(SameVersion(ScanVersionBlock(Block(), kInitial), {1, 1}));
  EXPECT_TRUE(SameVersion(ScanVersionBlock(Block{0x10}, kInitial), {1, 1}));
  EXPECT_TRUE(SameVersion(ScanVersionBlock(MakeBlock(64, 64, {}, 0), kInitial), {1, 1}));
  EXPECT_TRUE(SameVersion(ScanVersionBlock(MakeBlock(64, 64, {}, 0), {9, 4}), {9, 4}));
}

TEST(ScanVersionBlockTest, LengthWordOfFourOrLessScansNothing) {
  for (std::uint16_t length : {0, 1, 4}) {
    Block block = MakeBlock(32, 0, {2}, 0x00020000u);
    PutWord(block, 0, length);
    EXPECT_TRUE(SameVersion(ScanVersionBlock(block, kInitial), {1, 1})) << "length " << length;
  }
  // Length 7 lets offsets 0 to 2 be looked at, so the signature at 2 counts.
  Block block = MakeBlock(32, 7, {2}, 0x00020000u);
  EXPECT_TRUE(SameVersion(ScanVersionBlock(block, kInitial), {2, 0}));
}

TEST(ScanVersionBlockTest, OnlyOffsetsBelowTheLengthLessFourAreLookedAt) {
  EXPECT_TRUE(
      SameVersion(ScanVersionBlock(MakeBlock(64, 24, {20}, 0x00020000u), kInitial), {1, 1}));
  EXPECT_TRUE(
      SameVersion(ScanVersionBlock(MakeBlock(64, 25, {20}, 0x00020000u), kInitial), {2, 0}));
}

TEST(ScanVersionBlockTest, LengthWordBeyondTheBlockNeverReadsPastIt) {
  // The version word of a match must lie inside the block.
  EXPECT_TRUE(
      SameVersion(ScanVersionBlock(MakeBlock(14, 0xFFFF, {2}, 0x00020000u), kInitial), {2, 0}));
  EXPECT_TRUE(
      SameVersion(ScanVersionBlock(MakeBlock(14, 0xFFFF, {4}, 0x00020000u), kInitial), {1, 1}));
  EXPECT_TRUE(SameVersion(ScanVersionBlock(MakeBlock(8, 0xFFFF, {4}, 0), kInitial), {1, 1}));
  // A signature match in the cut-off tail of a longer block stays unread.
  Block block = MakeBlock(64, 64, {40}, 0x00020000u);
  block.resize(50);
  EXPECT_TRUE(SameVersion(ScanVersionBlock(block, kInitial), {1, 1}));
}

// The about box shows all four words of the file version.
TEST(ScanFileVersionTest, TheModulesBlockGivesItsWholeFileVersion) {
  const FileVersion version = ScanFileVersion(ModuleVersionBlock(), {1, 1, 0, 0});
  EXPECT_EQ(version.major, CORVANE_VERSION_MAJOR);
  EXPECT_EQ(version.minor, CORVANE_VERSION_MINOR);
  EXPECT_EQ(version.build, CORVANE_VERSION_PATCH);
  EXPECT_EQ(version.revision, CORVANE_VERSION_TWEAK);
  // The pair the module reports is the file version's first two words.
  const VersionPair pair = ScanVersionBlock(ModuleVersionBlock(), kInitial);
  EXPECT_TRUE(SameVersion(pair, {version.major, version.minor}));
}

TEST(ScanFileVersionTest, BuildAndRevisionComeFromTheWordAfterThePair) {
  Block block = MakeBlock(92, 92, {40}, 0x00020000u);
  PutDoubleWord(block, 52, 0x00090003u);
  const FileVersion version = ScanFileVersion(block, {1, 1, 0, 0});
  EXPECT_EQ(version.major, 2);
  EXPECT_EQ(version.minor, 0);
  EXPECT_EQ(version.build, 9);
  EXPECT_EQ(version.revision, 3);
}

TEST(ScanFileVersionTest, MatchWhoseLowWordLiesPastTheBlockIsNotRead) {
  // The pair's word fits (bytes 10 to 13) but the next would not.
  const FileVersion version =
      ScanFileVersion(MakeBlock(14, 0xFFFF, {2}, 0x00020000u), {1, 1, 7, 7});
  EXPECT_EQ(version.major, 1);
  EXPECT_EQ(version.build, 7);
}

}  // namespace
}  // namespace Control
}  // namespace Corvane
