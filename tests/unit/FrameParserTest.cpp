#include "protocol/FrameParser.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/EngineError.h"
#include "platform/ErrorCode.h"
#include "platform/TextConversion.h"
#include "protocol/BinaryDataAckMessage.h"
#include "protocol/BinaryDataMessage.h"
#include "protocol/BinaryDataSink.h"
#include "protocol/ConnectMessage.h"
#include "protocol/ConnectResponseMessage.h"
#include "protocol/DisconnectMessage.h"
#include "protocol/HealthCheckAckMessage.h"
#include "protocol/HealthCheckMessage.h"
#include "protocol/ReceivedBinaryAckMessage.h"
#include "protocol/VersionAckMessage.h"
#include "protocol/VersionMessage.h"
#include "protocol/XmlDataAckMessage.h"
#include "protocol/XmlDataMessage.h"
#include "support/BinaryDataFrame.h"

namespace Corvane {
namespace Client {
namespace {

using Result = FrameParser::Result;

std::vector<std::u16string> ValidFrames() {
  const ConnectMessage connect(u"app-id", u"Vendor App", u"127.0.0.1");
  XmlDataMessage xml(u"<a>\u00e9\U0001D11E</a>");
  HealthCheckMessage check;
  VersionMessage version;
  return {
      connect.ToString(),
      ConnectResponseMessage(connect, u"engine-id", u"Engine", u"en", 45501).ToString(),
      ConnectResponseMessage(connect.GetMessageId(), u"engine-id", u"Engine", u"en", -100, u"no")
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

// Everything one run of pushes produced: the frames read back as text, and
// a failure as "bad <code>".
struct Outcome {
  std::vector<std::u16string> frames;
  std::vector<int> bad;
};

// Pushes `pieces` in order, running on after headers, as a stream reader does.
Outcome PushAll(FrameParser& parser, const std::vector<std::u16string>& pieces) {
  Outcome outcome;
  for (const std::u16string& piece : pieces) {
    std::size_t offset = 0;
    for (;;) {
      std::size_t used = 0;
      const Result result = parser.Push(piece.data() + offset, piece.size() - offset, used);
      EXPECT_LE(used, piece.size() - offset);
      offset += used;
      if (result == Result::kNeedMore) {
        EXPECT_EQ(piece.size(), offset) << "kNeedMore only once every character is taken";
        break;
      }
      if (result == Result::kComplete) outcome.frames.push_back(parser.TakeMessage()->ToString());
      if (result == Result::kBad) outcome.bad.push_back(Platform::ToInt(parser.Error()));
    }
  }
  return outcome;
}

TEST(FrameParserTest, EveryFrameSplitAtEveryBoundaryReadsTheSame) {
  for (const std::u16string& frame : ValidFrames()) {
    for (std::size_t cut = 0; cut <= frame.size(); ++cut) {
      FrameParser parser;
      const Outcome outcome = PushAll(parser, {frame.substr(0, cut), frame.substr(cut)});
      ASSERT_EQ(1u, outcome.frames.size()) << "cut at " << cut;
      EXPECT_EQ(frame, outcome.frames[0]);
      EXPECT_TRUE(outcome.bad.empty());
      EXPECT_TRUE(parser.AtFrameStart());
    }
  }
}

TEST(FrameParserTest, EveryTruncatedFrameWaitsForMoreAndNeverCompletes) {
  for (const std::u16string& frame : ValidFrames()) {
    for (std::size_t length = 0; length < frame.size(); ++length) {
      FrameParser parser;
      const Outcome outcome = PushAll(parser, {frame.substr(0, length)});
      EXPECT_TRUE(outcome.frames.empty()) << "length " << length;
      EXPECT_TRUE(outcome.bad.empty()) << "length " << length;
      EXPECT_GT(parser.Wanted(), 0u);
      // The rest completes it.
      const Outcome rest = PushAll(parser, {frame.substr(length)});
      ASSERT_EQ(1u, rest.frames.size());
      EXPECT_EQ(frame, rest.frames[0]);
    }
  }
}

TEST(FrameParserTest, BytesSplitAtEveryByteBoundaryIncludingOddOnes) {
  std::u16string stream;
  for (const std::u16string& frame : ValidFrames()) stream += frame;
  std::string bytes;
  for (char16_t c : stream) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  for (std::size_t cut = 0; cut <= bytes.size(); cut += 7) {
    FrameParser parser;
    std::vector<std::u16string> frames;
    for (const std::string& piece : {bytes.substr(0, cut), bytes.substr(cut)}) {
      std::size_t offset = 0;
      for (;;) {
        std::size_t used = 0;
        const Result result = parser.PushBytes(piece.data() + offset, piece.size() - offset, used);
        offset += used;
        if (result == Result::kNeedMore) break;
        ASSERT_NE(Result::kBad, result) << "cut at byte " << cut;
        if (result == Result::kComplete) frames.push_back(parser.TakeMessage()->ToString());
      }
    }
    EXPECT_EQ(ValidFrames().size(), frames.size()) << "cut at byte " << cut;
  }
}

TEST(FrameParserTest, BadHeadersGiveTheirCodeAndTextAndTheNextFrameReads) {
  struct Case {
    std::u16string header;
    Errc code;
    std::wstring text;
  };
  const Case cases[] = {
      {u"XXXXXXX001HLTHCHK   ", Errc::kUnknownProtocol,
       L"Unknown message protocol.  Received: XXXXXXX001HLTHCHK   "},
      {u"CVNPBDP001NOSUCHTYPE", Errc::kInvalidMessageType, L"Invalid message type provided"},
      {u"CVNPBDP002HLTHCHK   ", Errc::kUnsupportedVersion, L"Unsupported protocol version"},
      // The engine reads no BINACK.
      {u"CVNPBDP002BINACK    ", Errc::kInvalidMessageType, L"Invalid message type provided"},
  };
  const std::u16string next = DisconnectMessage().ToString();
  for (const Case& c : cases) {
    FrameParser parser;
    std::size_t used = 0;
    const std::u16string input = c.header + next;
    EXPECT_EQ(Result::kBad, parser.Push(input, used));
    EXPECT_EQ(20u, used) << "the bad header is consumed, no more";
    EXPECT_EQ(c.code, parser.Error());
    EXPECT_EQ(c.text, parser.ErrorText());
    EXPECT_EQ(c.header, parser.Header());
    EXPECT_EQ(nullptr, parser.Message());
    const Outcome rest = PushAll(parser, {input.substr(used)});
    ASSERT_EQ(1u, rest.frames.size());
    EXPECT_EQ(next, rest.frames[0]);
  }
}

TEST(FrameParserTest, ABadBodyStepIsConsumedAndReportedWithItsText) {
  // An XMLDATA whose length field holds no number: the fixed part goes.
  const std::u16string bad = XmlDataMessage(u"<a/>").ToString().substr(0, 20 + 36) + u"abcdefghij";
  FrameParser parser;
  std::size_t used = 0;
  const std::u16string input = bad + DisconnectMessage().ToString();
  EXPECT_EQ(Result::kHeader, parser.Push(input, used));
  std::size_t more = 0;
  EXPECT_EQ(Result::kBad, parser.Push(input.data() + used, input.size() - used, more));
  EXPECT_EQ(46u, more);
  EXPECT_EQ(Errc::kParse, parser.Error());
  EXPECT_EQ(L"XMLDATA data length element was not valid (abcdefghij).", parser.ErrorText());
  EXPECT_EQ(20u, parser.Wanted());
  const Outcome rest = PushAll(parser, {input.substr(used + more)});
  EXPECT_EQ(1u, rest.frames.size());
}

TEST(FrameParserTest, SeveralFramesInOnePushComeOneAtATime) {
  const std::vector<std::u16string> frames = ValidFrames();
  std::u16string all;
  for (const std::u16string& frame : frames) all += frame;
  FrameParser parser;
  const Outcome outcome = PushAll(parser, {all});
  EXPECT_EQ(frames, outcome.frames);
}

TEST(FrameParserTest, InPlaceStepsReadTheSameAsPushedOnes) {
  const std::u16string frame = XmlDataMessage(u"<in-place/>").ToString();
  FrameParser parser;
  std::size_t position = 0;
  Result result = Result::kNeedMore;
  while (result != Result::kComplete) {
    if (result == Result::kHeader) {
      std::size_t used = 0;
      result = parser.Push(nullptr, 0, used);
      continue;
    }
    std::u16string& step = parser.StepBuffer();
    ASSERT_LE(position + step.size(), frame.size());
    std::copy(frame.begin() + position, frame.begin() + position + step.size(), step.begin());
    position += step.size();
    result = parser.StepFilled();
    ASSERT_NE(Result::kBad, result);
  }
  EXPECT_EQ(frame.size(), position);
  EXPECT_EQ(frame, parser.TakeMessage()->ToString());
}

TEST(FrameParserTest, ALongXmlTextIsCollectedAndItsBufferLetGo) {
  const std::u16string text = u"<a>" + std::u16string(200000, u'x') + u"</a>";
  const std::u16string frame = XmlDataMessage(text).ToString();
  std::vector<std::u16string> pieces;
  for (std::size_t i = 0; i < frame.size(); i += 4096) pieces.push_back(frame.substr(i, 4096));
  FrameParser parser;
  const Outcome outcome = PushAll(parser, pieces);
  ASSERT_EQ(1u, outcome.frames.size());
  EXPECT_EQ(frame, outcome.frames[0]);
  EXPECT_LE(parser.Collected().capacity(), FrameParser::kInPlaceLimit);
}

// Records how the file's bytes arrive.
class RecordingSink : public BinaryDataSink {
 public:
  void OnFileName(const BinaryDataMessage&) override { named = true; }
  void OnFileData(const BinaryDataMessage&, const char* data, std::size_t size) override {
    largest = std::max(largest, size);
    bytes.append(data, size);
  }
  void OnFileEnd(const BinaryDataMessage&) override { ended = true; }
  bool named = false;
  bool ended = false;
  std::size_t largest = 0;
  std::string bytes;
};

TEST(FrameParserTest, AFileStreamsToItsSinkAChunkAtATime) {
  std::string data(1000001, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  const std::u16string frame = Testing::BinaryDataFrame{{}, u"big.bin", data, {}}.ToString();
  FrameParser parser;
  RecordingSink sink;
  std::size_t largestStep = 0;
  for (std::size_t offset = 0; offset < frame.size();) {
    const std::size_t piece = std::min<std::size_t>(3000, frame.size() - offset);
    std::size_t used = 0;
    const Result result = parser.Push(frame.data() + offset, piece, used);
    offset += used;
    largestStep = std::max(largestStep, parser.Collected().capacity());
    ASSERT_NE(Result::kBad, result) << Platform::ToUtf8(parser.ErrorText());
    if (result == Result::kHeader) {
      static_cast<BinaryDataMessage&>(*parser.Message()).SetSink(&sink);
    }
    if (result == Result::kComplete) {
      EXPECT_EQ(frame.size(), offset);
      break;
    }
  }
  auto message = std::dynamic_pointer_cast<BinaryDataMessage>(parser.TakeMessage());
  ASSERT_NE(nullptr, message);
  EXPECT_TRUE(sink.named);
  EXPECT_TRUE(sink.ended);
  EXPECT_EQ(data, sink.bytes);
  // Never more than one chunk at a time, neither in the sink nor the parser.
  EXPECT_LE(sink.largest, 2u * 5120u);
  EXPECT_LE(largestStep, 2u * 5120u);
}

TEST(FrameParserTest, FinishHandsTheShortStepToTheBody) {
  const std::u16string frame = ConnectMessage(u"id", u"name", u"1.2.3.4").ToString();
  FrameParser parser;
  std::size_t used = 0;
  EXPECT_EQ(Result::kHeader, parser.Push(frame.substr(0, 60), used));
  std::size_t more = 0;
  EXPECT_EQ(Result::kNeedMore, parser.Push(frame.data() + used, 60 - used, more));
  EXPECT_EQ(Result::kBad, parser.Finish());
  EXPECT_EQ(Errc::kParse, parser.Error());
  EXPECT_EQ(L"Connect messages must be 117 char; received 40", parser.ErrorText());
}

TEST(FrameParserTest, APeerReadsTheEnginesBinaryAcknowledgements) {
  const std::u16string id = u"0123456789abcdef0123456789abcdef0123";
  for (const std::u16string& text : {std::u16string(), std::u16string(u"Incorrect Checksum")}) {
    const std::u16string frame = BinaryDataAckMessage(id, text).ToString();
    for (std::size_t cut = 0; cut <= frame.size(); ++cut) {
      FrameParser parser(&CreatePeerMessage);
      const Outcome outcome = PushAll(parser, {frame.substr(0, cut), frame.substr(cut)});
      ASSERT_EQ(1u, outcome.frames.size());
      EXPECT_EQ(frame, outcome.frames[0]);
    }
  }
  // A flag that does not match the text, or a length that is no number, is bad.
  const std::u16string good = BinaryDataAckMessage(id, u"").ToString();
  for (const std::u16string& bad :
       {good.substr(0, 56) + u"0" + good.substr(57), good.substr(0, 57) + u"00x0"}) {
    FrameParser parser(&CreatePeerMessage);
    const Outcome outcome = PushAll(parser, {bad});
    EXPECT_TRUE(outcome.frames.empty());
    EXPECT_EQ(std::vector<int>{-112}, outcome.bad);
  }
}

TEST(ErrorCodeTest, EveryCodeKeepsItsNumberAndHasItsOwnMessage) {
  const std::pair<Errc, int> codes[] = {
      {Errc::kConnectionFailed, -100},   {Errc::kInvalidMessageType, -103},
      {Errc::kUnknownProtocol, -104},    {Errc::kUnsupportedVersion, -105},
      {Errc::kServiceThreadFailed, -107}, {Errc::kNotAcknowledged, -109},
      {Errc::kNoApplications, -110},     {Errc::kSendFailed, -111},
      {Errc::kParse, -112},              {Errc::kSocketReadError, -113},
      {Errc::kMissingApplicationId, -114}, {Errc::kMissingApplicationName, -115},
      {Errc::kInvalidAckTimeout, -116},  {Errc::kInvalidHealthCheckInterval, -117},
      {Errc::kInvalidGroupPort, -119},   {Errc::kInvalidServerPort, -120},
      {Errc::kInvalidHailingInterval, -121}, {Errc::kInvalidGroupAddress, -122},
      {Errc::kInvalidFilePort, -125},    {Errc::kInvalidFileDirectory, -126},
      {Errc::kCalledOnEngineThread, -130}, {Errc::kNoModuleDirectory, -131},
      {Errc::kInternalError, -132},      {Errc::kInvalidXml, -200},
      {Errc::kNotImplemented, -999},
  };
  std::vector<std::string> messages;
  for (const auto& [code, number] : codes) {
    const std::error_code error = code;
    EXPECT_EQ(number, error.value());
    EXPECT_STREQ("corvane", error.category().name());
    EXPECT_NE("unknown engine error", error.message()) << number;
    messages.push_back(error.message());
    Errc back{};
    EXPECT_TRUE(Platform::FromInt(number, back));
    EXPECT_EQ(code, back);
  }
  std::sort(messages.begin(), messages.end());
  EXPECT_EQ(messages.end(), std::adjacent_find(messages.begin(), messages.end()));
  Errc none{};
  EXPECT_FALSE(Platform::FromInt(-101, none));
  EXPECT_FALSE(Platform::FromInt(0, none));
  // A code is no system error of the same number.
  EXPECT_NE(std::error_code(Errc::kParse), std::error_code(-112, std::generic_category()));
}

TEST(ErrorCodeTest, AnEngineErrorCarriesItsCodeAndWideText) {
  const EngineError error(L"Gr\u00fc\u00dfe \U0001D11E", Errc::kParse);
  EXPECT_EQ(-112, error.GetCode());
  EXPECT_EQ(Errc::kParse, error.Code());
  EXPECT_EQ(std::error_code(Errc::kParse), error.ErrorCode());
  EXPECT_EQ(L"Gr\u00fc\u00dfe \U0001D11E", error.GetMessage());
  EXPECT_STREQ("Gr\xc3\xbc\xc3\x9f" "e \xf0\x9d\x84\x9e", error.what());
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
