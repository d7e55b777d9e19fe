// A program that speaks the protocol without the engine, as the peer
// simulator does: it links the message codec and the platform library and
// nothing else, writes a CONNECT and reads a CONNECTACK. Exits 0 when every
// check holds; prints the failed check otherwise.

#include <cstdio>
#include <memory>
#include <string>

#include "interface/Quellor.h"
#include "platform/EngineError.h"
#include "protocol/ConnectMessage.h"
#include "protocol/ConnectResponseMessage.h"
#include "protocol/MessageFactory.h"

namespace {

int failures = 0;

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "failed: %s\n", what);
  ++failures;
}

}  // namespace

int main() {
  using namespace Corvane::Client;
  const ConnectMessage connect(u"vendor-id", u"Vendor", u"127.0.0.1");
  const std::u16string frame = connect.ToString();
  Check(frame.size() == 137, "a CONNECT frame is 137 characters");
  Check(frame.compare(0, 17, u"CVNPBDP001CONNECT") == 0, "a CONNECT frame starts with its header");

  const std::u16string answer =
      ConnectResponseMessage(connect, u"engine-id", u"Client", u"en", 45501).ToString();
  try {
    const auto message = ParseMessage(answer);
    Check(message->GetType() == MessageType::kConnectAck, "the answer reads as a CONNECTACK");
    const auto& ack = static_cast<const ConnectResponseMessage&>(*message);
    Check(ack.GetMessageId() == connect.GetMessageId(), "the CONNECTACK answers the CONNECT's id");
    Check(ack.GetClientId() == u"engine-id", "the CONNECTACK names the engine");
    Check(ack.GetErrorCode() == 0, "the CONNECTACK reports success");
    Check(ack.GetFilePort() == 45501, "the CONNECTACK carries the file port");
  } catch (const EngineError& e) {
    std::fprintf(stderr, "failed: the CONNECTACK did not parse: %s\n", e.what());
    ++failures;
  }
  try {
    ParseMessage(u"CVNPBDP001NOSUCHTYPE");
    Check(false, "an unknown type is refused");
  } catch (const EngineError& e) {
    Check(e.GetCode() == -103, "an unknown type is refused with -103");
  }
  return failures == 0 ? 0 : 1;
}
