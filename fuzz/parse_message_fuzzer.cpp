// Feeds arbitrary bytes, paired into little-endian characters, to ParseMessage
// as one frame. An EngineError with one of the reader's codes is an
// expected outcome; any other exception, a crash, a sanitizer report or a
// broken invariant is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "FuzzSupport.h"

using Corvane::Client::IntegrationMessage;
using Corvane::Client::ParseMessage;
using Corvane::Client::EngineError;
using CorvaneFuzz::CheckCode;
using CorvaneFuzz::CheckRoundTrip;
using CorvaneFuzz::ToCharacters;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::shared_ptr<IntegrationMessage> message;
  try {
    message = ParseMessage(ToCharacters(data, size));
  } catch (const EngineError& e) {
    CheckCode(e.Code());
    return 0;
  }
  if (message->GetRemainingLength() != 0) std::abort();
  CheckRoundTrip(*message);
  return 0;
}
