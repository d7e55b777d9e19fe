#include "support/BinaryDataFrame.h"

#include "protocol/ChecksumText.h"

#include <cryptopp/sha.h>

#include "protocol/FieldCodec.h"

namespace Corvane {
namespace Testing {

std::u16string BinaryDataFrame::Head(std::size_t dataLength) {
  if (messageId.empty()) messageId = Client::Wire::NewMessageId();
  return Client::Wire::FormatHeader(u"CVNPBDP002", u"BINDATA") +
         Client::Wire::FormatText(messageId, 36) +
         Client::Wire::FormatNumber(static_cast<long long>(fileName.size()), 5) +
         Client::Wire::FormatNumber(static_cast<long long>(dataLength), 10) + fileName;
}

std::u16string BinaryDataFrame::ToString() {
  if (checksum.empty()) checksum = Sha1Hex(data);
  return Head(data.size()) + DataCharacters(data) + checksum;
}

std::u16string Sha1Hex(const std::string& bytes) {
  CryptoPP::SHA1 sha;
  sha.Update(reinterpret_cast<const CryptoPP::byte*>(bytes.data()), bytes.size());
  return Client::FinishChecksumText(sha);
}

std::u16string DataCharacters(const std::string& bytes, char padding) {
  std::u16string characters((bytes.size() + 1) / 2, u'\0');
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    const auto low = static_cast<unsigned char>(bytes[i]);
    const auto high = static_cast<unsigned char>(i + 1 < bytes.size() ? bytes[i + 1] : padding);
    characters[i / 2] = static_cast<char16_t>(low | (high << 8));
  }
  return characters;
}

std::string PatternBytes(std::size_t offset, std::size_t count) {
  std::string bytes(count, '\0');
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = offset + i;
    bytes[i] = static_cast<char>((at * 131 + (at >> 9) * 7 + 1) & 0xFF);
  }
  return bytes;
}

}  // namespace Testing
}  // namespace Corvane
