#pragma once
// BINDATA frames written the way a vendor application writes them, for tests.

#include <cstddef>
#include <string>

namespace Corvane {
namespace Testing {

/// One BINDATA. Offsets in the frame: message id at 20, file name length at
/// 56, data length at 61, file name from 71.
struct BinaryDataFrame {
  std::u16string messageId;  // a fresh id when empty
  std::u16string fileName;
  std::string data;
  std::u16string checksum;  // the lower-case SHA-1 of `data` when empty

  /// The whole frame; fills in messageId and checksum when they are empty.
  std::u16string ToString();
  /// Header, fixed part and file name, announcing `dataLength` bytes.
  std::u16string Head(std::size_t dataLength);
};

/// The SHA-1 of `bytes` as 40 lower-case hexadecimal digits.
std::u16string Sha1Hex(const std::string& bytes);

/// `bytes` as data characters: two bytes per character, low half first; an
/// odd count pads the last character's high half with `padding`.
std::u16string DataCharacters(const std::string& bytes, char padding = '\x5A');

/// `count` bytes of a fixed pattern starting at `offset` of a file, so large
/// files can be sent and checked without being held whole.
std::string PatternBytes(std::size_t offset, std::size_t count);

}  // namespace Testing
}  // namespace Corvane
