// XMLDATA, XMLACK, HLTHCHK, HLTHACK, VERSION and VERSIONACK: frames as written
// and as read.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/ExpectFailure.h"
#include "support/FrameReader.h"

#include "interface/Quellor.h"
#include "protocol/HealthCheckAckMessage.h"
#include "protocol/HealthCheckMessage.h"
#include "protocol/MessageFactory.h"
#include "protocol/VersionAckMessage.h"
#include "protocol/VersionMessage.h"
#include "protocol/XmlDataAckMessage.h"
#include "protocol/XmlDataMessage.h"

namespace Corvane {
namespace Client {
namespace {

const std::u16string kId = u"9b2c4e6a-1d3f-4a5b-8c7d-0e1f2a3b4c5d";

using Testing::ExpectFailure;
using Testing::ReadChunks;

// The bytes of a frame as they go on the wire.
std::vector<std::uint8_t> WireBytes(const std::u16string& frame) {
  const auto* begin = reinterpret_cast<const std::uint8_t*>(frame.data());
  return std::vector<std::uint8_t>(begin, begin + frame.size() * sizeof(char16_t));
}

std::shared_ptr<XmlDataMessage> XmlDataWithFixedPart(const std::u16string& lengthField) {
  auto message = std::make_shared<XmlDataMessage>();
  message->Parse(kId + lengthField);
  return message;
}

TEST(HealthCheckMessageTest, WorkedExampleByteForByte) {
  const std::u16string frame = u"CVNPBDP001HLTHCHK   " + kId;
  std::shared_ptr<IntegrationMessage> message;
  EXPECT_EQ((std::vector<int>{36}), ReadChunks(frame, message));
  EXPECT_EQ(kId, message->GetMessageId());
  EXPECT_EQ(frame, message->ToString());
  ASSERT_EQ(56u, frame.size());

  const std::vector<std::uint8_t> bytes = WireBytes(message->ToString());
  ASSERT_EQ(112u, bytes.size());
  const std::vector<std::uint8_t> header = {
      0x43, 0x00, 0x56, 0x00, 0x4e, 0x00, 0x50, 0x00, 0x42, 0x00, 0x44, 0x00, 0x50, 0x00, 0x30,
      0x00, 0x30, 0x00, 0x31, 0x00, 0x48, 0x00, 0x4c, 0x00, 0x54, 0x00, 0x48, 0x00, 0x43, 0x00,
      0x48, 0x00, 0x4b, 0x00, 0x20, 0x00, 0x20, 0x00, 0x20, 0x00};
  EXPECT_EQ(header, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 40));
  EXPECT_EQ((std::vector<std::uint8_t>{0x39, 0x00, 0x62, 0x00, 0x32, 0x00, 0x63, 0x00}),
            std::vector<std::uint8_t>(bytes.begin() + 40, bytes.begin() + 48));
  EXPECT_EQ((std::vector<std::uint8_t>{0x35, 0x00, 0x64, 0x00}),
            std::vector<std::uint8_t>(bytes.end() - 4, bytes.end()));
}

TEST(XmlDataMessageTest, WorkedExampleIsReadAs20And46And4) {
  const std::u16string frame = u"CVNPBDP001XMLDATA   " + kId + u"0000000004<a/>";
  ASSERT_EQ(70u, frame.size());
  std::shared_ptr<IntegrationMessage> message;
  EXPECT_EQ((std::vector<int>{46, 4}), ReadChunks(frame, message));
  auto xml = std::static_pointer_cast<XmlDataMessage>(message);
  EXPECT_EQ(kId, xml->GetMessageId());
  EXPECT_EQ(u"<a/>", xml->GetData());
  EXPECT_EQ(frame, xml->ToString());
}

TEST(XmlDataMessageTest, SendingConstructorFramesTheTextUnderAFreshId) {
  XmlDataMessage sent(u"<a/>");
  const std::u16string frame = sent.ToString();
  EXPECT_EQ(u"CVNPBDP001XMLDATA   " + sent.GetMessageId() + u"0000000004<a/>", frame);
  EXPECT_NE(sent.GetMessageId(), XmlDataMessage(u"<a/>").GetMessageId());
  EXPECT_EQ(46, sent.GetRemainingLength());
}

TEST(XmlDataMessageTest, ZeroOrNegativeLengthCompletesWithEmptyData) {
  for (const std::u16string length : {u"0000000000", u"-000000005", u"00000000-5", u"-2147483648"}) {
    auto message = XmlDataWithFixedPart(length.substr(0, 10));
    EXPECT_EQ(0, message->GetRemainingLength());
    EXPECT_EQ(u"", message->GetData());
  }
}

TEST(XmlDataMessageTest, LengthFieldWithoutANumberFailsQuotingIt) {
  ExpectFailure([] { XmlDataWithFixedPart(u"          "); }, -112,
                L"XMLDATA data length element was not valid (          ).");
  ExpectFailure([] { XmlDataWithFixedPart(u"abcdefghij"); }, -112,
                L"XMLDATA data length element was not valid (abcdefghij).");
  // Too large for an int.
  ExpectFailure([] { XmlDataWithFixedPart(u"9999999999"); }, -112,
                L"XMLDATA data length element was not valid (9999999999).");
  // Cut off by the end of the chunk.
  ExpectFailure([] { XmlDataWithFixedPart(u"0000"); }, -112,
                L"XMLDATA data length element was not valid (0000).");
}

TEST(XmlDataMessageTest, LengthAboveTheLimitFailsBeforeAnythingIsSized) {
  ExpectFailure([] { XmlDataWithFixedPart(u"0067108865"); }, -112,
                L"XMLDATA data length 67108865 exceeds the limit of 67108864 characters.");
  ExpectFailure([] { XmlDataWithFixedPart(u"2147483647"); }, -112,
                L"XMLDATA data length 2147483647 exceeds the limit of 67108864 characters.");
  EXPECT_EQ(67108864, XmlDataWithFixedPart(u"0067108864")->GetRemainingLength());
}

TEST(XmlDataMessageTest, DataMustHaveTheAnnouncedLength) {
  auto message = XmlDataWithFixedPart(u"0000000004");
  ExpectFailure([&] { message->Parse(u"<a"); }, -112, L"XMLDATA expected data of 4 but got 2.");
  // Through ParseMessage, a frame that ends early hands the data step the rest.
  ExpectFailure([] { ParseMessage(u"CVNPBDP001XMLDATA   " + kId + u"0000000004<a/"); }, -112,
                L"XMLDATA expected data of 4 but got 3.");
}

TEST(XmlDataMessageTest, BlankIdFails) {
  ExpectFailure([] { XmlDataMessage().Parse(std::u16string(36, u' ') + u"0000000004"); }, -112,
                L"XMLDATA message id is blank");
  // The data of a blank-id frame is never taken for a fixed part.
  ExpectFailure([] { ParseMessage(u"CVNPBDP001XMLDATA   " + std::u16string(36, u' ') + u"0000000004<a/>"); },
                -112, L"XMLDATA message id is blank");
}

TEST(XmlDataAckMessageTest, CarriesTheIdOfTheDataItAcknowledges) {
  XmlDataMessage data(u"<a/>");
  const std::u16string frame = XmlDataAckMessage(data).ToString();
  EXPECT_EQ(u"CVNPBDP001XMLACK    " + data.GetMessageId(), frame);
  EXPECT_EQ(data.GetMessageId(), ParseMessage(frame)->GetMessageId());
}

TEST(HealthCheckAckMessageTest, AnswersWithOkAndTheCheckId) {
  HealthCheckMessage check;
  const std::u16string frame = HealthCheckAckMessage(check).ToString();
  EXPECT_EQ(u"CVNPBDP001HLTHACK   " + check.GetMessageId() + u"OK   ", frame);

  std::shared_ptr<IntegrationMessage> message;
  EXPECT_EQ((std::vector<int>{41}), ReadChunks(frame, message));
  EXPECT_EQ(check.GetMessageId(), message->GetMessageId());
}

TEST(HealthCheckAckMessageTest, StatusIsNotExamined) {
  std::shared_ptr<IntegrationMessage> message =
      ParseMessage(u"CVNPBDP001HLTHACK   " + kId + u"FAIL!");
  EXPECT_EQ(0, message->GetRemainingLength());
  EXPECT_EQ(kId, message->GetMessageId());
}

TEST(HealthCheckMessageTest, IdIsTrimmed) {
  HealthCheckMessage check;
  check.Parse(u"  short-id" + std::u16string(26, u' '));
  EXPECT_EQ(u"short-id", check.GetMessageId());
  EXPECT_EQ(0, check.GetRemainingLength());
}

TEST(VersionMessageTest, ReadsTheVersionAndAlwaysWritesReservedZero) {
  std::shared_ptr<IntegrationMessage> message = ParseMessage(u"CVNPBDP002VERSION   " + kId + u"0030007");
  auto version = std::static_pointer_cast<VersionMessage>(message);
  EXPECT_EQ(3, version->GetVersion());
  EXPECT_EQ(7, version->GetReserved());
  EXPECT_EQ(u"CVNPBDP002VERSION   " + kId + u"0030000", version->ToString());
  EXPECT_EQ(u"0020000", VersionMessage().ToString().substr(56));
}

TEST(VersionMessageTest, VersionWithoutANumberFails) {
  ExpectFailure([] { VersionMessage().Parse(kId + u"   0000"); }, -112, L"    is not a valid version.");
  ExpectFailure([] { VersionMessage().Parse(kId + u"v2 0000"); }, -112, L"v2  is not a valid version.");
  ExpectFailure([] { VersionMessage().Parse(kId + u"0"); }, -112, L"0 is not a valid version.");
}

TEST(VersionAckMessageTest, AnswersTheVersionIdWithStatusZero) {
  VersionMessage version;
  const std::u16string frame = VersionAckMessage(version).ToString();
  EXPECT_EQ(u"CVNPBDP002VERSIONACK" + version.GetMessageId() + u"0000", frame);

  std::shared_ptr<IntegrationMessage> message = ParseMessage(u"CVNPBDP002VERSIONACK" + kId + u"0042");
  EXPECT_EQ(kId, message->GetMessageId());
  EXPECT_EQ(42, std::static_pointer_cast<VersionAckMessage>(message)->GetStatus());
  EXPECT_EQ(0, std::static_pointer_cast<VersionAckMessage>(ParseMessage(u"CVNPBDP002VERSIONACK" + kId + u"ok  "))
                   ->GetStatus());
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
