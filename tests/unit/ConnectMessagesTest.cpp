// HAIL, CONNECT, CONNECTACK and DISCONNECT: frames as written and as read.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/ExpectFailure.h"
#include "support/FrameReader.h"

#include "interface/Quellor.h"
#include "protocol/ConnectMessage.h"
#include "protocol/ConnectResponseMessage.h"
#include "protocol/DisconnectMessage.h"
#include "protocol/HailMessage.h"
#include "protocol/MessageFactory.h"

namespace Corvane {
namespace Client {
namespace {

const std::u16string kId = u"9b2c4e6a-1d3f-4a5b-8c7d-0e1f2a3b4c5d";
const std::u16string kEngineId = u"0f1e2d3c-4b5a-4697-a8b9-cadbecfd0e1f";

using Testing::ExpectFailure;
using Testing::ReadChunks;

// A CONNECTACK fixed part with the given error code and length fields.
std::u16string ConnectAckFixedPart(const std::u16string& id, const std::u16string& errorCode,
                                   const std::u16string& length) {
  return id + std::u16string(36 - id.size(), u' ') + kEngineId + u"Engine" + std::u16string(24, u' ') +
         u"en" + errorCode + length;
}

TEST(HailMessageTest, FrameIs76CharactersWithAZeroFilledPort) {
  const std::u16string frame = HailMessage(u"192.168.1.20", 45500, kEngineId).ToString();
  EXPECT_EQ(u"CVNPBDP001HAIL      192.168.1.20   45500" + kEngineId, frame);
  EXPECT_EQ(76u, frame.size());

  const std::u16string port80 = HailMessage(u"10.0.0.1", 80, kEngineId).ToString();
  EXPECT_EQ(u"00080", port80.substr(35, 5));
  EXPECT_EQ(76u, port80.size());
}

TEST(HailMessageTest, HasNoIdAndIsCompleteAfterItsHeader) {
  HailMessage hail(u"10.0.0.1", 45500, kEngineId);
  EXPECT_EQ(u"", hail.GetMessageId());
  EXPECT_EQ(0, hail.GetRemainingLength());
  EXPECT_EQ(1, hail.GetProtocolVersion());
  EXPECT_EQ(MessageType::kHail, hail.GetType());
}

TEST(ConnectMessageTest, ShortFieldsReadBackWithoutPadding) {
  const ConnectMessage sent(u"app-id", u"Vendor App", u"127.0.0.1");
  const std::u16string frame = sent.ToString();
  ASSERT_EQ(137u, frame.size());

  std::shared_ptr<IntegrationMessage> message;
  EXPECT_EQ(std::vector<int>{117}, ReadChunks(frame, message));
  auto connect = std::dynamic_pointer_cast<ConnectMessage>(message);
  ASSERT_NE(nullptr, connect);
  EXPECT_EQ(sent.GetMessageId(), connect->GetMessageId());
  EXPECT_EQ(u"app-id", connect->GetApplicationId());
  EXPECT_EQ(u"Vendor App", connect->GetApplicationName());
  EXPECT_EQ(u"127.0.0.1", connect->GetApplicationAddress());
}

TEST(ConnectMessageTest, BodyOfTheWrongLengthFails) {
  ConnectMessage connect;
  ExpectFailure([&] { connect.Parse(std::u16string(40, u'x')); }, -112,
                L"Connect messages must be 117 char; received 40");
  ExpectFailure([&] { connect.Parse(std::u16string(118, u'x')); }, -112,
                L"Connect messages must be 117 char; received 118");
  // Through ParseMessage, a frame of 60 characters hands the body 40.
  ExpectFailure([] { ParseMessage(u"CVNPBDP001CONNECT   " + std::u16string(40, u'x')); }, -112,
                L"Connect messages must be 117 char; received 40");
}

TEST(ConnectMessageTest, OverLongNameMakesAFrameReadersReject) {
  const std::u16string frame = ConnectMessage(u"id", std::u16string(31, u'n'), u"1.2.3.4").ToString();
  EXPECT_EQ(138u, frame.size());
  ExpectFailure([&] { CreateMessage(frame.substr(0, 20))->Parse(frame.substr(20)); }, -112,
                L"Connect messages must be 117 char; received 118");
}

TEST(ConnectResponseMessageTest, SuccessFrameIs140Characters) {
  ConnectMessage connect;
  connect.Parse(kId + std::u16string(81, u' '));
  const std::u16string frame =
      ConnectResponseMessage(connect, kEngineId, u"<undefined>", u"en", 45501).ToString();
  EXPECT_EQ(u"CVNPBDP001CONNECTACK" + kId + kEngineId + u"<undefined>" + std::u16string(19, u' ') +
                u"en" + u"0000" + u"0008" + u"002" + u"45501",
            frame);
  EXPECT_EQ(140u, frame.size());

  std::shared_ptr<IntegrationMessage> message;
  EXPECT_EQ((std::vector<int>{112, 8}), ReadChunks(frame, message));
  auto ack = std::dynamic_pointer_cast<ConnectResponseMessage>(message);
  ASSERT_NE(nullptr, ack);
  EXPECT_EQ(kId, ack->GetMessageId());
  EXPECT_EQ(kEngineId, ack->GetClientId());
  EXPECT_EQ(u"<undefined>", ack->GetClientName());
  EXPECT_EQ(u"en", ack->GetLanguage());
  EXPECT_EQ(0, ack->GetErrorCode());
  EXPECT_EQ(2, ack->GetVersion());
  EXPECT_EQ(45501, ack->GetFilePort());
}

TEST(ConnectResponseMessageTest, ErrorFrameCarriesItsText) {
  const std::u16string frame =
      ConnectResponseMessage(kId, kEngineId, u"Engine", u"en", -100, u"X").ToString();
  EXPECT_EQ(u"-1000001X", frame.substr(frame.size() - 9));
  EXPECT_EQ(133u, frame.size());

  std::shared_ptr<IntegrationMessage> message;
  EXPECT_EQ((std::vector<int>{112, 1}), ReadChunks(frame, message));
  auto ack = std::static_pointer_cast<ConnectResponseMessage>(message);
  EXPECT_EQ(-100, ack->GetErrorCode());
  EXPECT_EQ(u"X", ack->GetErrorText());

  // An empty error text: complete after the fixed part.
  const std::u16string empty =
      ConnectResponseMessage(kId, kEngineId, u"Engine", u"en", -5, u"").ToString();
  EXPECT_EQ(u"00-50000", empty.substr(empty.size() - 8));
  EXPECT_EQ((std::vector<int>{112}), ReadChunks(empty, message));
}

TEST(ConnectResponseMessageTest, InvalidFixedPartsFail) {
  ExpectFailure([] { ConnectResponseMessage().Parse(ConnectAckFixedPart(kId, u"x1  ", u"0008")); },
                -112, L"x1   is not a valid error code.");
  ExpectFailure([] { ConnectResponseMessage().Parse(ConnectAckFixedPart(u"", u"0000", u"0008")); },
                -112, L"CONNECTACK message id is blank");
  // Fields cut off by the end of the chunk.
  const std::u16string fixed = ConnectAckFixedPart(kId, u"0000", u"0008");
  ExpectFailure([&] { ConnectResponseMessage().Parse(fixed.substr(0, 106)); }, -112,
                L"00 is not a valid error code.");
  ExpectFailure([&] { ConnectResponseMessage().Parse(fixed.substr(0, 110)); }, -112,
                L"CONNECTACK data length element was not valid (00).");
}

TEST(ConnectResponseMessageTest, LengthFieldWithoutANumberOrNegativeCompletesTheMessage) {
  for (const std::u16string length : {u"    ", u"abcd", u"00-5", u"-999"}) {
    ConnectResponseMessage ack;
    ack.Parse(ConnectAckFixedPart(kId, u"0000", length));
    EXPECT_EQ(0, ack.GetRemainingLength());
  }
}

// A frame cut short (only ParseMessage on a short string does that) reads
// what the chunk holds and nothing beyond it.
TEST(ConnectResponseMessageTest, ShortVariablePartReadsWhatItHolds) {
  ConnectResponseMessage ack;
  ack.Parse(ConnectAckFixedPart(kId, u"0000", u"0008"));
  ASSERT_EQ(8, ack.GetRemainingLength());
  ack.Parse(u"001");
  EXPECT_EQ(0, ack.GetRemainingLength());
  EXPECT_EQ(1, ack.GetVersion());
  EXPECT_EQ(0, ack.GetFilePort());

  ConnectResponseMessage refusal;
  refusal.Parse(ConnectAckFixedPart(kId, u"-100", u"0010"));
  refusal.Parse(u"bad");
  EXPECT_EQ(u"bad", refusal.GetErrorText());
}

TEST(ConnectResponseMessageTest, SuccessFieldsWithoutNumbersKeepTheirValues) {
  ConnectResponseMessage ack;
  ack.Parse(ConnectAckFixedPart(kId, u"0000", u"0008"));
  ack.Parse(u"abc45501");
  EXPECT_EQ(2, ack.GetVersion());
  EXPECT_EQ(45501, ack.GetFilePort());
}

TEST(DisconnectMessageTest, FrameIsTheHeaderAlone) {
  const std::u16string frame = DisconnectMessage().ToString();
  EXPECT_EQ(u"CVNPBDP001DISCONNECT", frame);
  std::shared_ptr<IntegrationMessage> message = ParseMessage(frame);
  EXPECT_NE(nullptr, std::dynamic_pointer_cast<DisconnectMessage>(message));
  EXPECT_EQ(0, message->GetRemainingLength());
  EXPECT_EQ(u"", message->GetMessageId());
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
