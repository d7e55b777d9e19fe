#pragma once
// The module's version block: a VS_VERSIONINFO header followed by the
// fixed-file-info record (signature 0xFEEF04BD), laid out byte for byte as the
// version resource of a Windows module, and the scan that reads the version
// pair from it.

#include <cstdint>
#include <vector>

namespace Corvane {
namespace Control {

struct VersionPair {
  std::uint16_t major;
  std::uint16_t minor;
};

/// The four words of a file version, most significant first ("2.0.9.0").
struct FileVersion {
  std::uint16_t major;
  std::uint16_t minor;
  std::uint16_t build;
  std::uint16_t revision;
};

/// The bytes of the version block compiled into this module, for the
/// project's version.
const std::vector<unsigned char>& ModuleVersionBlock();

/// Reads the version pair from a version block: when its first word (the total
/// length) exceeds 4, every byte offset below the total length less 4 that
/// holds the signature 0xFEEF04BD gives the pair from the 32-bit word 8 bytes
/// after it (major in the high 16 bits, minor in the low); a later match
/// overrides an earlier one. `initial` when nothing matches. Never reads past
/// the block, whatever its first word says.
VersionPair ScanVersionBlock(const std::vector<unsigned char>& block, VersionPair initial);

/// Reads the whole file version the same way: the pair from the word 8 bytes
/// after a signature, the build and revision from the word after that (the
/// about box shows all four). `initial` when nothing matches.
FileVersion ScanFileVersion(const std::vector<unsigned char>& block, FileVersion initial);

}  // namespace Control
}  // namespace Corvane
