#include "protocol/MessageFactory.h"
#include "platform/EngineError.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/ExpectFailure.h"

#include "interface/Quellor.h"
#include "protocol/ConnectMessage.h"
#include "protocol/ConnectResponseMessage.h"
#include "protocol/DisconnectMessage.h"
#include "protocol/HailMessage.h"
#include "protocol/HealthCheckAckMessage.h"
#include "protocol/HealthCheckMessage.h"
#include "protocol/VersionAckMessage.h"
#include "protocol/VersionMessage.h"
#include "protocol/XmlDataAckMessage.h"
#include "protocol/XmlDataMessage.h"

namespace Corvane {
namespace Client {
namespace {

using Testing::ExpectFailure;

template <typename T>
void ExpectCreates(const std::u16string& header, int remaining) {
  std::shared_ptr<IntegrationMessage> message = CreateMessage(header);
  ASSERT_NE(nullptr, std::dynamic_pointer_cast<T>(message))
      << std::string(header.begin(), header.end());
  EXPECT_EQ(remaining, message->GetRemainingLength());
}

// One valid frame of every type the factory accepts.
std::vector<std::u16string> ValidFrames() {
  const ConnectMessage connect(u"app-id", u"Vendor App", u"127.0.0.1");
  XmlDataMessage xml(u"<a/>");
  HealthCheckMessage check;
  VersionMessage version;
  return {
      HailMessage(u"192.168.1.20", 45500, u"engine-id").ToString(),
      connect.ToString(),
      ConnectResponseMessage(connect, u"engine-id", u"<undefined>", u"en", 45501).ToString(),
      ConnectResponseMessage(connect.GetMessageId(), u"engine-id", u"Engine", u"en", -100, u"refused")
          .ToString(),
      DisconnectMessage().ToString(),
      xml.ToString(),
      XmlDataMessage(u"").ToString(),
      XmlDataAckMessage(xml).ToString(),
      check.ToString(),
      HealthCheckAckMessage(check).ToString(),
      version.ToString(),
      VersionAckMessage(version).ToString(),
  };
}

TEST(MessageFactoryTest, EveryTypeNameBuildsItsEmptyMessage) {
  ExpectCreates<HailMessage>(u"CVNPBDP001HAIL      ", 0);
  ExpectCreates<ConnectMessage>(u"CVNPBDP001CONNECT   ", 117);
  ExpectCreates<ConnectResponseMessage>(u"CVNPBDP001CONNECTACK", 112);
  ExpectCreates<DisconnectMessage>(u"CVNPBDP001DISCONNECT", 0);
  ExpectCreates<XmlDataMessage>(u"CVNPBDP001XMLDATA   ", 46);
  ExpectCreates<XmlDataAckMessage>(u"CVNPBDP001XMLACK    ", 36);
  ExpectCreates<HealthCheckMessage>(u"CVNPBDP001HLTHCHK   ", 36);
  ExpectCreates<HealthCheckAckMessage>(u"CVNPBDP001HLTHACK   ", 41);
  ExpectCreates<VersionMessage>(u"CVNPBDP002VERSION   ", 43);
  ExpectCreates<VersionAckMessage>(u"CVNPBDP002VERSIONACK", 40);
}

TEST(MessageFactoryTest, TypeNameIsTrimmedAtBothEnds) {
  ExpectCreates<HealthCheckMessage>(u"CVNPBDP001   HLTHCHK", 36);
  ExpectCreates<HealthCheckMessage>(u"CVNPBDP001\tHLTHCHK\r\n", 36);
}

TEST(MessageFactoryTest, VersionTextWithoutDigitsCountsAsOne) {
  ExpectCreates<XmlDataMessage>(u"CVNPBDPabcXMLDATA   ", 46);
  ExpectFailure([] { CreateMessage(u"CVNPBDPabcVERSION   "); }, -105, L"Unsupported protocol version");
}

TEST(MessageFactoryTest, UnknownProtocolQuotesTheWholeHeader) {
  ExpectFailure([] { CreateMessage(u"XVNPBDP001HLTHCHK   "); }, -104,
                L"Unknown message protocol.  Received: XVNPBDP001HLTHCHK   ");
  ExpectFailure([] { CreateMessage(u"cvnpbdp001HLTHCHK   "); }, -104,
                L"Unknown message protocol.  Received: cvnpbdp001HLTHCHK   ");
  ExpectFailure([] { CreateMessage(u"CVN"); }, -104, L"Unknown message protocol.  Received: CVN");
}

TEST(MessageFactoryTest, UnknownTypeNamesAreInvalid) {
  for (const std::u16string header :
       {u"CVNPBDP001hlthchk   ", u"CVNPBDP002BINACK    ", u"CVNPBDP001BINACK    ",
        u"CVNPBDP001NOSUCHTYPE", u"CVNPBDP001          ",
        u"CVNPBDP001HLTH CHK  ", u"CVNPBDP001"}) {
    ExpectFailure([&] { CreateMessage(header); }, -103, L"Invalid message type provided");
  }
}

TEST(MessageFactoryTest, HeaderVersionMustBeTheTypesVersion) {
  ExpectFailure([] { CreateMessage(u"CVNPBDP002XMLDATA   "); }, -105, L"Unsupported protocol version");
  ExpectFailure([] { CreateMessage(u"CVNPBDP001VERSION   "); }, -105, L"Unsupported protocol version");
  ExpectFailure([] { CreateMessage(u"CVNPBDP003HLTHCHK   "); }, -105, L"Unsupported protocol version");
}

TEST(MessageFactoryTest, HailCannotBeParsed) {
  std::shared_ptr<IntegrationMessage> hail = CreateMessage(u"CVNPBDP001HAIL      ");
  ExpectFailure([&] { hail->Parse(std::u16string(56, u' ')); }, -999, L"Not implemented");
}

TEST(MessageFactoryTest, ParseMessageRoundTripsEveryValidFrame) {
  for (const std::u16string& frame : ValidFrames()) {
    if (frame.compare(10, 4, u"HAIL") == 0) continue;  // its body is never read
    std::shared_ptr<IntegrationMessage> message = ParseMessage(frame);
    EXPECT_EQ(0, message->GetRemainingLength());
    EXPECT_EQ(frame, message->ToString());
  }
}

TEST(MessageFactoryTest, ParseMessageOfHailIgnoresItsBody) {
  std::shared_ptr<IntegrationMessage> hail =
      ParseMessage(HailMessage(u"10.0.0.1", 45500, u"id").ToString());
  EXPECT_EQ(0, hail->GetRemainingLength());
  EXPECT_EQ(u"", std::static_pointer_cast<HailMessage>(hail)->GetAddress());
}

// Whatever prefix of a valid frame arrives, the reader gets a complete message
// or a EngineError with one of the reader's codes: never anything else.
TEST(MessageFactoryTest, TruncatedFramesEndCompleteOrInAParseFailure) {
  for (const std::u16string& frame : ValidFrames()) {
    for (std::size_t length = 0; length <= frame.size(); ++length) {
      const std::u16string prefix = frame.substr(0, length);
      try {
        EXPECT_EQ(0, ParseMessage(prefix)->GetRemainingLength());
      } catch (const EngineError& e) {
        EXPECT_TRUE(e.GetCode() == -103 || e.GetCode() == -104 || e.GetCode() == -105 ||
                    e.GetCode() == -112 || e.GetCode() == -999)
            << e.GetCode();
      } catch (...) {
        ADD_FAILURE() << "unexpected exception at length " << length << " of "
                      << std::string(frame.begin(), frame.begin() + 20);
      }
    }
  }
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
