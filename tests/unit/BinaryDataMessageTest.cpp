#include "protocol/BinaryDataMessage.h"
#include "platform/EngineError.h"

#include <gtest/gtest.h>

#include "interface/Quellor.h"
#include "platform/TextConversion.h"
#include "protocol/BinaryDataAckMessage.h"
#include "protocol/BinaryDataSink.h"
#include "protocol/MessageFactory.h"
#include "support/BinaryDataFrame.h"
#include "support/FrameReader.h"

namespace Corvane {
namespace Client {
namespace {

using Testing::BinaryDataFrame;
using Testing::PatternBytes;

const std::u16string kId = u"9b2c4e6a-1d3f-4a5b-8c7d-0e1f2a3b4c5d";

// Records what the codec hands over, in order.
class RecordingSink : public BinaryDataSink {
 public:
  void OnFileName(const BinaryDataMessage& message) override {
    events.push_back("name " + Platform::ToUtf8(Platform::FromUtf16(message.GetFileName())));
  }
  void OnFileData(const BinaryDataMessage&, const char* data, std::size_t size) override {
    bytes.append(data, size);
    events.push_back("data " + std::to_string(size));
  }
  void OnFileEnd(const BinaryDataMessage&) override { events.push_back("end"); }

  std::vector<std::string> events;
  std::string bytes;
};

TEST(BinaryDataMessageTest, HandsTheNameAndEveryByteToItsSinkInOrder) {
  const std::string data = PatternBytes(0, 2 * 5120 + 1);  // two chunks, the last one padded
  RecordingSink sink;
  std::shared_ptr<IntegrationMessage> read;
  Testing::ReadChunks(BinaryDataFrame{kId, u" f.bin ", data, {}}.ToString(), read, &sink);
  auto message = std::static_pointer_cast<BinaryDataMessage>(read);
  EXPECT_EQ(sink.events, (std::vector<std::string>{"name f.bin", "data 10240", "data 1", "end"}));
  EXPECT_EQ(sink.bytes, data);
  EXPECT_EQ(message->GetMessageId(), kId);
  EXPECT_EQ(message->GetDataLength(), static_cast<int>(data.size()));
  EXPECT_EQ(message->GetExpectedChecksum(), Testing::Sha1Hex(data));
  EXPECT_EQ(message->GetParseState(), BinaryDataMessage::kComplete);

  // Without a sink the file is read in step and dropped.
  Testing::ReadChunks(BinaryDataFrame{kId, u"f.bin", data, {}}.ToString(), read);
  EXPECT_EQ(std::static_pointer_cast<BinaryDataMessage>(read)->GetParseState(),
            BinaryDataMessage::kComplete);

  // An empty file goes from the name to the checksum.
  RecordingSink empty;
  Testing::ReadChunks(BinaryDataFrame{kId, u"e", "", {}}.ToString(), read, &empty);
  EXPECT_EQ(empty.events, (std::vector<std::string>{"name e", "end"}));
}

TEST(BinaryDataMessageTest, FactoryReadsBinDataButNeverBinAck) {
  auto message = CreateMessage(u"CVNPBDP002BINDATA   ");
  ASSERT_TRUE(std::dynamic_pointer_cast<BinaryDataMessage>(message));
  EXPECT_EQ(message->GetRemainingLength(), 51);
  EXPECT_EQ(message->GetProtocolVersion(), 2);
  for (const auto& [header, code] : {std::pair{u"CVNPBDP001BINDATA   ", -105},
                                     std::pair{u"CVNPBDP002BINACK    ", -103}}) {
    try {
      CreateMessage(header);
      ADD_FAILURE();
    } catch (const EngineError& e) {
      EXPECT_EQ(e.GetCode(), code);
    }
  }
  try {
    message->ToString();
    ADD_FAILURE();
  } catch (const EngineError& e) {
    EXPECT_EQ(e.GetCode(), -999);
    EXPECT_EQ(e.GetMessage(), L"Not implemented");
  }
}

TEST(BinaryDataMessageTest, AckFrames) {
  const std::u16string header = u"CVNPBDP002BINACK    ";
  EXPECT_EQ(BinaryDataAckMessage(kId, u"").ToString(), header + kId + u"10000");
  EXPECT_EQ(BinaryDataAckMessage(kId, u"").ToString().size(), 61u);
  const BinaryDataAckMessage refused(kId, u"Incorrect Checksum");
  EXPECT_EQ(refused.ToString(), header + kId + u"00018Incorrect Checksum");
  EXPECT_EQ(refused.ToString().size(), 79u);
  EXPECT_EQ(refused.GetRemainingLength(), 0);
  EXPECT_EQ(refused.GetProtocolVersion(), 2);
  // A text too long for the length field is cut so the frame stays readable.
  const std::u16string huge = BinaryDataAckMessage(kId, std::u16string(20000, u'x')).ToString();
  EXPECT_EQ(huge.substr(56, 5), u"09999");
  EXPECT_EQ(huge.size(), 61u + 9999u);
  try {
    BinaryDataAckMessage(kId, u"").Parse(u"");
    ADD_FAILURE();
  } catch (const EngineError& e) {
    EXPECT_EQ(e.GetCode(), -999);
  }
}

TEST(BinaryDataMessageTest, BadLengthsFailTheFixedPart) {
  const struct {
    int offset;
    std::u16string field;
    std::wstring text;
  } cases[] = {
      {56, u"00000", L"00000 is not a valid file name length."},
      {56, u"000-1", L"000-1 is not a valid file name length."},
      {56, u"-0001", L"-0001 is not a valid file name length."},
      {56, u"x0005", L"x0005 is not a valid file name length."},
      {61, u"-000000001", L"-000000001 is not a valid data length."},
      {61, u"9999999999", L"9999999999 is not a valid data length."},
      {61, u"    abcdef", L"    abcdef is not a valid data length."},
  };
  for (const auto& c : cases) {
    std::u16string frame = BinaryDataFrame{{}, u"a.txt", "abc", {}}.ToString();
    frame.replace(static_cast<std::size_t>(c.offset), c.field.size(), c.field);
    auto message = CreateMessage(frame.substr(0, 20));
    try {
      message->Parse(frame.substr(20, 51));
      ADD_FAILURE() << "accepted " << Platform::ToUtf8(c.text);
    } catch (const EngineError& e) {
      EXPECT_EQ(e.GetCode(), -112);
      EXPECT_EQ(e.GetMessage(), c.text);
    }
  }
}

TEST(BinaryDataMessageTest, ChunkOfTheWrongSizeFails) {
  auto message = CreateMessage(BinaryDataFrame{{}, u"a.txt", "abc", {}}.ToString().substr(0, 20));
  try {
    message->Parse(std::u16string(50, u'0'));
    ADD_FAILURE();
  } catch (const EngineError& e) {
    EXPECT_EQ(e.GetCode(), -112);
    EXPECT_EQ(e.GetMessage(), L"BINDATA expected 51 characters but got 50.");
  }
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
