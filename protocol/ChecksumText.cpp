#include "protocol/ChecksumText.h"

namespace Corvane {
namespace Client {

std::u16string FinishChecksumText(CryptoPP::SHA1& digest) {
  CryptoPP::byte bytes[CryptoPP::SHA1::DIGESTSIZE];
  digest.Final(bytes);
  static const char16_t kDigits[] = u"0123456789abcdef";
  std::u16string text;
  text.reserve(sizeof bytes * 2);
  for (const CryptoPP::byte b : bytes) {
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 0x0F]);
  }
  return text;
}

}  // namespace Client
}  // namespace Corvane
