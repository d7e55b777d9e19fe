#include "control/VersionBlock.h"

#include <cstddef>
#include <string>

#include "control/ModuleVersion.h"

namespace Corvane {
namespace Control {

namespace {

const std::uint32_t kFixedFileInfoSignature = 0xFEEF04BDu;
const std::uint32_t kFixedFileInfoStructVersion = 0x00010000u;
const std::uint32_t kFileFlagsMask = 0x3Fu;
const std::uint32_t kFileTypeDll = 2u;
// Thirteen 32-bit words.
const std::uint16_t kFixedFileInfoSize = 52;

void AppendWord(std::vector<unsigned char>& block, std::uint16_t value) {
  block.push_back(static_cast<unsigned char>(value & 0xFFu));
  block.push_back(static_cast<unsigned char>(value >> 8));
}

void AppendDoubleWord(std::vector<unsigned char>& block, std::uint32_t value) {
  AppendWord(block, static_cast<std::uint16_t>(value & 0xFFFFu));
  AppendWord(block, static_cast<std::uint16_t>(value >> 16));
}

std::uint32_t ReadDoubleWord(const std::vector<unsigned char>& block, std::size_t offset) {
  return static_cast<std::uint32_t>(block[offset]) |
         (static_cast<std::uint32_t>(block[offset + 1]) << 8) |
         (static_cast<std::uint32_t>(block[offset + 2]) << 16) |
         (static_cast<std::uint32_t>(block[offset + 3]) << 24);
}

std::vector<unsigned char> BuildVersionBlock() {
  const std::uint32_t versionMostSignificant =
      (static_cast<std::uint32_t>(CORVANE_VERSION_MAJOR) << 16) |
      static_cast<std::uint32_t>(CORVANE_VERSION_MINOR);
  const std::uint32_t versionLeastSignificant =
      (static_cast<std::uint32_t>(CORVANE_VERSION_PATCH) << 16) |
      static_cast<std::uint32_t>(CORVANE_VERSION_TWEAK);

  std::vector<unsigned char> block;
  AppendWord(block, 0);  // total length, filled in at the end
  AppendWord(block, kFixedFileInfoSize);
  AppendWord(block, 0);  // binary data
  for (char16_t c : std::u16string(u"VS_VERSION_INFO"))
    AppendWord(block, static_cast<std::uint16_t>(c));
  AppendWord(block, 0);
  while (block.size() % 4 != 0) block.push_back(0);

  AppendDoubleWord(block, kFixedFileInfoSignature);
  AppendDoubleWord(block, kFixedFileInfoStructVersion);
  AppendDoubleWord(block, versionMostSignificant);  // file version
  AppendDoubleWord(block, versionLeastSignificant);
  AppendDoubleWord(block, versionMostSignificant);  // product version
  AppendDoubleWord(block, versionLeastSignificant);
  AppendDoubleWord(block, kFileFlagsMask);
  AppendDoubleWord(block, 0);  // flags
  AppendDoubleWord(block, 0);  // operating system
  AppendDoubleWord(block, kFileTypeDll);
  AppendDoubleWord(block, 0);  // subtype
  AppendDoubleWord(block, 0);  // date, high word
  AppendDoubleWord(block, 0);  // date, low word

  const auto length = static_cast<std::uint16_t>(block.size());
  block[0] = static_cast<unsigned char>(length & 0xFFu);
  block[1] = static_cast<unsigned char>(length >> 8);
  return block;
}

}  // namespace

const std::vector<unsigned char>& ModuleVersionBlock() {
  static const std::vector<unsigned char> block = BuildVersionBlock();
  return block;
}

namespace {

// Calls `match` with the offset of each fixed-file-info signature, by the
// scan's rules: only when the first word (the total length) exceeds 4, at
// offsets below the total length less 4, and never where the file-version
// words (8 to 16 bytes after the signature) would lie past the block.
template <typename Match>
void ForEachSignature(const std::vector<unsigned char>& block, Match match) {
  if (block.size() < 2) return;
  const std::size_t length =
      static_cast<std::size_t>(block[0]) | (static_cast<std::size_t>(block[1]) << 8);
  if (length <= 4) return;
  for (std::size_t offset = 0; offset < length - 4 && offset + 12 <= block.size(); ++offset) {
    if (ReadDoubleWord(block, offset) == kFixedFileInfoSignature) match(offset);
  }
}

}  // namespace

VersionPair ScanVersionBlock(const std::vector<unsigned char>& block, VersionPair initial) {
  VersionPair pair = initial;
  ForEachSignature(block, [&](std::size_t offset) {
    const std::uint32_t version = ReadDoubleWord(block, offset + 8);
    pair.major = static_cast<std::uint16_t>(version >> 16);
    pair.minor = static_cast<std::uint16_t>(version & 0xFFFFu);
  });
  return pair;
}

FileVersion ScanFileVersion(const std::vector<unsigned char>& block, FileVersion initial) {
  FileVersion version = initial;
  ForEachSignature(block, [&](std::size_t offset) {
    if (offset + 16 > block.size()) return;
    const std::uint32_t high = ReadDoubleWord(block, offset + 8);
    const std::uint32_t low = ReadDoubleWord(block, offset + 12);
    version = {static_cast<std::uint16_t>(high >> 16), static_cast<std::uint16_t>(high & 0xFFFFu),
               static_cast<std::uint16_t>(low >> 16), static_cast<std::uint16_t>(low & 0xFFFFu)};
  });
  return version;
}

}  // namespace Control
}  // namespace Corvane
