// Feeds arbitrary bytes to the frame parser every reader of the stream uses
// (the engine's connections included), once whole and once a byte at a time:
// both must give the same frames and the same failures, whatever the split.
//
// A bad frame with one of the reader's codes is an expected outcome (the
// parser drops the step and reads on at the next header); any other
// exception, a crash, a sanitizer report, a broken invariant or a difference
// between the two readings is a finding.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "protocol/FrameParser.h"

using Corvane::Client::FrameParser;
using Corvane::Client::IntegrationMessage;
using CorvaneFuzz::CheckCode;
using CorvaneFuzz::CheckRoundTrip;

namespace {

// What one reading saw: per frame, its text when complete, or its code.
std::vector<std::u16string> Read(const std::uint8_t* data, std::size_t size, std::size_t piece) {
  std::vector<std::u16string> outcomes;
  FrameParser parser;
  std::size_t offset = 0;
  for (;;) {
    const std::size_t length = piece == 0 ? size - offset : std::min(piece, size - offset);
    std::size_t used = 0;
    const FrameParser::Result result = parser.PushBytes(data + offset, length, used);
    if (used > length) std::abort();
    offset += used;
    if (result == FrameParser::Result::kComplete) {
      const std::shared_ptr<IntegrationMessage> message = parser.TakeMessage();
      if (!message || message->GetRemainingLength() != 0) std::abort();
      CheckRoundTrip(*message);
      outcomes.push_back(parser.Header());
    } else if (result == FrameParser::Result::kBad) {
      CheckCode(parser.Error());
      if (parser.Wanted() != 20 || parser.Message()) std::abort();
      outcomes.push_back(u"bad " + std::u16string(1, static_cast<char16_t>(
                                                     -Corvane::Platform::ToInt(parser.Error()))));
    } else if (result == FrameParser::Result::kNeedMore) {
      if (used != length) std::abort();
      if (offset >= size) break;
    }
  }
  return outcomes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (Read(data, size, 0) != Read(data, size, 1)) std::abort();
  return 0;
}
