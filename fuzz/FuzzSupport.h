#pragma once
// What both fuzz targets share: the input as characters and the checks of
// their outcomes. The targets link the message codec alone, which touches
// neither files nor the log.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/EngineError.h"
#include "protocol/BinaryDataMessage.h"
#include "protocol/HailMessage.h"
#include "protocol/IntegrationMessage.h"
#include "protocol/MessageFactory.h"

namespace CorvaneFuzz {

/// The input's bytes paired into little-endian characters; an odd last byte
/// is dropped.
inline std::u16string ToCharacters(const std::uint8_t* data, std::size_t size) {
  std::u16string text(size / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return text;
}

/// A reader may fail only with one of its own codes.
inline void CheckCode(Corvane::Platform::Errc errc) {
  const int code = Corvane::Platform::ToInt(errc);
  if (code != -103 && code != -104 && code != -105 && code != -112 && code != -999) std::abort();
}

/// A complete message writes a frame that reads back, and writing and reading
/// again settles on one text within a few rounds. (Not at once: a negative
/// number narrower than its field is written with zeros in front of the sign,
/// "00-5", and reads back as 0; a CONNECTACK whose error code becomes 0 that
/// way reads its error text as version and port.)
inline void CheckRoundTrip(const Corvane::Client::IntegrationMessage& message) {
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

}  // namespace CorvaneFuzz
