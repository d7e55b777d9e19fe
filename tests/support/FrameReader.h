#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "protocol/BinaryDataMessage.h"
#include "protocol/IntegrationMessage.h"
#include "protocol/MessageFactory.h"

namespace Corvane {
namespace Testing {

/// Reads `frame` the way a connection does: the 20-character header, then
/// each chunk the message asks for, until it is complete. `message` gets the
/// message; returns the length of every read after the header. The whole
/// frame must be consumed. A BINDATA hands its file to `sink` when one is
/// given.
inline std::vector<int> ReadChunks(const std::u16string& frame,
                                   std::shared_ptr<Client::IntegrationMessage>& message,
                                   Client::BinaryDataSink* sink = nullptr) {
  message = Client::CreateMessage(frame.substr(0, 20));
  if (sink && message->GetType() == Client::MessageType::kBinaryData) {
    static_cast<Client::BinaryDataMessage&>(*message).SetSink(sink);
  }
  std::vector<int> chunks;
  std::size_t position = 20;
  for (int n = message->GetRemainingLength(); n > 0; n = message->GetRemainingLength()) {
    chunks.push_back(n);
    message->Parse(frame.substr(position, static_cast<std::size_t>(n)));
    position += static_cast<std::size_t>(n);
  }
  EXPECT_EQ(frame.size(), position) << "the whole frame is consumed";
  return chunks;
}

}  // namespace Testing
}  // namespace Corvane
