#pragma once

#include <string>

#include <cryptopp/sha.h>

namespace Corvane {
namespace Client {

/// Finishes `digest` and returns it as a BINDATA checksum: 40 hexadecimal
/// digits, letters in lower case, most significant digit of each byte first.
/// The digest is ready for new data afterwards.
std::u16string FinishChecksumText(CryptoPP::SHA1& digest);

}  // namespace Client
}  // namespace Corvane
