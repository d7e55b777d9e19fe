// Feeds arbitrary bytes, paired into little-endian characters, to ParseMessage
// as one frame. A QuellorException with one of the reader's codes is an
// expected outcome; any other exception, a crash, a sanitizer report or a
// broken invariant is a finding.

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
using Corvane::Client::ParseMessage;
using Corvane::Client::QuellorException;

std::u16string ToCharacters(const std::uint8_t* data, std::size_t size) {
  std::u16string text(size / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  CorvaneFuzz::UsePrivateFileStore();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::shared_ptr<IntegrationMessage> message;
  try {
    message = ParseMessage(ToCharacters(data, size));
  } catch (const QuellorException& e) {
    const int code = e.GetCode();
    if (code != -103 && code != -104 && code != -105 && code != -112 && code != -999) std::abort();
    return 0;
  }
  if (message->GetRemainingLength() != 0) std::abort();
  // A complete message writes a frame that reads back, and writing and reading
  // again settles on one text within a few rounds (see frame_reader_fuzzer).
  // HAIL's body is never read, BINDATA is never written.
  if (!dynamic_cast<const Corvane::Client::HailMessage*>(message.get()) &&
      !dynamic_cast<const Corvane::Client::BinaryDataMessage*>(message.get())) {
    std::u16string text = message->ToString();
    for (int round = 0;; ++round) {
      if (round == 4) std::abort();
      std::u16string again = ParseMessage(text)->ToString();
      if (again == text) break;
      text = std::move(again);
    }
  }
  return 0;
}
