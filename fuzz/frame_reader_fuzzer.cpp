// Feeds arbitrary bytes through the reading model a connection uses: a
// 20-character header to CreateMessage, then as many characters as the message
// asks for to Parse, until it is complete; then the next header. Bytes pair
// into little-endian characters; reading stops where the input ends.
//
// A QuellorException with one of the reader's codes is an expected outcome
// (the connection drops the message and reads on at the next 20 characters);
// any other exception, a crash, a sanitizer report or a broken invariant is
// a finding.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "FuzzSupport.h"

using Corvane::Client::IntegrationMessage;
using Corvane::Client::QuellorException;
using CorvaneFuzz::CheckCode;
using CorvaneFuzz::CheckRoundTrip;
using CorvaneFuzz::ToCharacters;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string input = ToCharacters(data, size);
  constexpr std::size_t kHeaderLength = 20;
  std::size_t position = 0;
  while (input.size() - position >= kHeaderLength) {
    std::shared_ptr<IntegrationMessage> message;
    bool inputEnded = false;
    try {
      message = Corvane::Client::CreateMessage(input.substr(position, kHeaderLength));
      position += kHeaderLength;
      for (int remaining = message->GetRemainingLength(); remaining > 0;
           remaining = message->GetRemainingLength()) {
        const auto count = static_cast<std::size_t>(remaining);
        if (input.size() - position < count) {
          inputEnded = true;
          break;
        }
        const std::u16string chunk = input.substr(position, count);
        position += count;  // consumed even when it does not parse
        message->Parse(chunk);
      }
    } catch (const QuellorException& e) {
      CheckCode(e);
      if (!message) position += kHeaderLength;
      continue;
    }
    if (inputEnded) break;
    CheckRoundTrip(*message);
  }
  return 0;
}
