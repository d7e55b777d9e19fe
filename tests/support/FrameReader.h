#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/EngineError.h"
#include "protocol/BinaryDataMessage.h"
#include "protocol/FrameParser.h"
#include "protocol/IntegrationMessage.h"

namespace Corvane {
namespace Testing {

/// Reads `frame` with the engine's frame parser, a step at a time as a
/// connection does: the 20-character header, then each run of characters
/// the message asks for, until it is complete. `message` gets the message;
/// returns the length of every read after the header. The whole frame must
/// be consumed. A BINDATA hands its file to `sink` when one is given. A bad
/// frame throws its EngineError, as the codec's own functions do.
inline std::vector<int> ReadChunks(const std::u16string& frame,
                                   std::shared_ptr<Client::IntegrationMessage>& message,
                                   Client::BinaryDataSink* sink = nullptr) {
  using Result = Client::FrameParser::Result;
  Client::FrameParser parser;
  std::vector<int> chunks;
  std::size_t position = 0;
  for (;;) {
    const std::size_t wanted = parser.Wanted();
    if (parser.Message()) {
      if (wanted == 0) break;  // complete
      chunks.push_back(static_cast<int>(wanted));
    }
    const std::size_t count = std::min(wanted, frame.size() - position);
    std::size_t used = 0;
    const Result result = parser.Push(frame.data() + position, count, used);
    position += used;
    if (result == Result::kBad) throw Client::EngineError(parser.ErrorText(), parser.Error());
    if (result == Result::kComplete) break;
    if (result == Result::kHeader) {
      if (sink && parser.Message()->GetType() == Client::MessageType::kBinaryData) {
        static_cast<Client::BinaryDataMessage&>(*parser.Message()).SetSink(sink);
      }
    } else if (count < wanted) {
      ADD_FAILURE() << "the frame ends before the message is complete";
      return chunks;
    }
  }
  message = parser.TakeMessage();
  EXPECT_EQ(frame.size(), position) << "the whole frame is consumed";
  return chunks;
}

}  // namespace Testing
}  // namespace Corvane
