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
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "FuzzFileStore.h"
#include "engine/Quellor.h"
#include "protocol/BinaryDataMessage.h"
#include "protocol/HailMessage.h"
#include "protocol/IntegrationMessage.h"
#include "protocol/MessageFactory.h"

namespace {

using Corvane::Client::IntegrationMessage;
using Corvane::Client::QuellorException;

std::u16string ToCharacters(const std::uint8_t* data, std::size_t size) {
  std::u16string text(size / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return text;
}

void CheckCode(const QuellorException& e) {
  const int code = e.GetCode();
  if (code != -103 && code != -104 && code != -105 && code != -112 && code != -999) std::abort();
}

// A complete message writes a frame that reads back, and writing and reading
// again settles on one text within a few rounds. (Not at once: a negative
// number narrower than its field is written with zeros in front of the sign,
// "00-5", and reads back as 0; a CONNECTACK whose error code becomes 0 that way
// reads its error text as version and port.)
void CheckRoundTrip(const IntegrationMessage& message) {
  if (dynamic_cast<const Corvane::Client::HailMessage*>(&message)) return;  // body never read
  if (dynamic_cast<const Corvane::Client::BinaryDataMessage*>(&message)) return;  // never written
  std::u16string text = message.ToString();
  for (int round = 0; round < 4; ++round) {
    std::u16string again = Corvane::Client::ParseMessage(text)->ToString();
    if (again == text) return;
    text = std::move(again);
  }
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  CorvaneFuzz::UsePrivateFileStore();
  return 0;
}

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
