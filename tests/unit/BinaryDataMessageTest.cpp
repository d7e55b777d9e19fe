#include "protocol/BinaryDataMessage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <thread>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>

#include "support/LoggingTestSupport.h"
#include "connection/Connection.h"
#include "connection/FileProcessingThreads.h"
#include "engine/ListenerSlot.h"
#include "filestore/FileFactoryImpl.h"
#include "filestore/FileImpl.h"
#include "filestore/ProcessFileFactory.h"
#include "platform/TextConversion.h"
#include "protocol/BinaryDataAckMessage.h"
#include "protocol/MessageFactory.h"
#include "support/BinaryDataFrame.h"
#include "support/FileSizeLimit.h"
#include "support/FrameReader.h"
#include "support/RecordingListener.h"
#include "support/TempDir.h"
#include "support/TestPeer.h"

namespace Corvane {
namespace Client {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Testing::BinaryDataFrame;
using Testing::PatternBytes;

const std::u16string kId = u"9b2c4e6a-1d3f-4a5b-8c7d-0e1f2a3b4c5d";

// A temporary file that runs out of space after `capacity` bytes.
class FullDiskFile : public File::FileImpl {
 public:
  FullDiskFile(std::string tempDirectory, std::size_t capacity)
      : FileImpl(std::move(tempDirectory)), capacity_(capacity) {}
  using FileImpl::Append;
  void Append(const char* data, std::size_t size) override {
    if (written_ + size > capacity_) throw wexception(L"No space left on device");
    written_ += size;
    FileImpl::Append(data, size);
  }

 private:
  std::size_t capacity_;
  std::size_t written_ = 0;
};

class FullDiskFactory : public File::FileFactoryImpl {
 public:
  FullDiskFactory(std::string tempDirectory, std::size_t capacity)
      : FileFactoryImpl(std::move(tempDirectory)), capacity_(capacity) {}
  using FileFactoryImpl::NewFile;
  std::shared_ptr<File::File> NewFile() override {
    return std::make_shared<FullDiskFile>(GetTempDirectory(), capacity_);
  }

 private:
  std::size_t capacity_;
};

// Messages whose temporary files go to a directory of the test, with log
// lines captured in memory.
class BinaryDataMessageTest : public ::testing::Test {
 protected:
  BinaryDataMessageTest() { UseFactory(); }
  ~BinaryDataMessageTest() override { File::SetProcessFileFactory(nullptr); }

  // Temporary files in temp_, failing beyond `capacity` bytes when given.
  void UseFactory(std::size_t capacity = 0) {
    if (capacity == 0) {
      File::SetProcessFileFactory(std::make_shared<File::FileFactoryImpl>(temp_.string()));
    } else {
      File::SetProcessFileFactory(std::make_shared<FullDiskFactory>(temp_.string(), capacity));
    }
  }

  // Reads `frame` as a connection does, recording the size of every body read.
  std::shared_ptr<BinaryDataMessage> Read(const std::u16string& frame, std::vector<int>& reads) {
    std::shared_ptr<IntegrationMessage> message;
    reads = Testing::ReadChunks(frame, message);
    return std::dynamic_pointer_cast<BinaryDataMessage>(message);
  }
  std::shared_ptr<BinaryDataMessage> Read(const std::u16string& frame) {
    std::vector<int> reads;
    return Read(frame, reads);
  }

  std::vector<fs::path> TempFiles() const {
    std::vector<fs::path> files;
    if (fs::exists(temp_)) {
      for (const auto& entry : fs::directory_iterator(temp_)) files.push_back(entry.path());
    }
    return files;
  }

  Testing::TempDir root_;
  fs::path temp_ = root_.Path() / "temp";
  Testing::LogCapture log_;
};

TEST_F(BinaryDataMessageTest, WorkedExampleIsReadIn20_51_5_2_40) {
  BinaryDataFrame frame{kId, u"a.txt", "abc", {}};
  const std::u16string text = frame.ToString();
  ASSERT_EQ(text.size(), 118u);
  std::vector<int> reads;
  auto message = Read(text, reads);
  EXPECT_EQ(reads, (std::vector<int>{51, 5, 2, 40}));
  EXPECT_EQ(message->GetMessageId(), kId);
  EXPECT_EQ(message->GetFileName(), u"a.txt");
  EXPECT_EQ(message->GetCalculatedChecksum(), u"a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(message->GetExpectedChecksum(), message->GetCalculatedChecksum());
  EXPECT_EQ(message->GetParseState(), BinaryDataMessage::kComplete);
  EXPECT_EQ(Testing::ReadFile(Platform::ToUtf8(message->GetFile()->GetPath())), "abc");
}

TEST_F(BinaryDataMessageTest, DataArrivesInChunksOfAtMost5120Characters) {
  const struct {
    std::size_t bytes;
    std::vector<int> dataReads;
  } cases[] = {{2 * 5120 + 1, {5120, 1}}, {4 * 5120, {5120, 5120}}, {5121, {2561}}, {1, {1}}};
  for (const auto& c : cases) {
    const std::string data = PatternBytes(0, c.bytes);
    std::vector<int> reads;
    auto message = Read(BinaryDataFrame{{}, u"f.bin", data, {}}.ToString(), reads);
    std::vector<int> expected{51, 5};
    expected.insert(expected.end(), c.dataReads.begin(), c.dataReads.end());
    expected.push_back(40);
    EXPECT_EQ(reads, expected) << c.bytes;
    // The padding byte of an odd length is dropped.
    EXPECT_EQ(Testing::ReadFile(Platform::ToUtf8(message->GetFile()->GetPath())), data) << c.bytes;
    EXPECT_EQ(message->GetCalculatedChecksum(), message->GetExpectedChecksum()) << c.bytes;
  }
}

TEST_F(BinaryDataMessageTest, EmptyFileGoesFromNameToChecksum) {
  std::vector<int> reads;
  auto message = Read(BinaryDataFrame{{}, u"empty", "", {}}.ToString(), reads);
  EXPECT_EQ(reads, (std::vector<int>{51, 5, 40}));
  EXPECT_EQ(message->GetCalculatedChecksum(), u"da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_TRUE(fs::exists(Platform::ToUtf8(message->GetFile()->GetPath())));
}

TEST_F(BinaryDataMessageTest, NameIsTrimmedAndChecksumComparedExactly) {
  BinaryDataFrame frame{{}, u" \ta.txt  ", "abc", u"A9993E364706816ABA3E25717850C26C9CD0D89D"};
  auto message = Read(frame.ToString());
  EXPECT_EQ(message->GetFileNameLength(), 9);
  EXPECT_EQ(message->GetFileName(), u"a.txt");
  EXPECT_NE(message->GetExpectedChecksum(), message->GetCalculatedChecksum());
}

// --- Lengths and names from the peer ---------------------------------------------

TEST_F(BinaryDataMessageTest, BadLengthsFailTheFixedPart) {
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
    } catch (const QuellorException& e) {
      EXPECT_EQ(e.GetCode(), -112);
      EXPECT_EQ(e.GetMessage(), c.text);
    }
  }
  EXPECT_TRUE(TempFiles().empty());
}

// A name the file system cannot hold (over 255 bytes in UTF-8, whatever its
// length in characters) is read whole and its data read and hashed, so the
// stream stays in step; the file is refused and nothing is written. The limit
// applies to the name as stored, after trimming.
TEST_F(BinaryDataMessageTest, NamesTooLongToStoreAreReadInStepAndRefused) {
  const std::string data = PatternBytes(0, 5121);
  const struct {
    std::u16string name;
    std::wstring text;
  } refused[] = {
      {std::u16string(300, u'a'), L"File name is too long: \"" + std::wstring(100, L'a') +
                                      L"...\" (300 bytes; the limit is 255)"},
      {std::u16string(200, u'\u00e9'), L"File name is too long: \"" +
                                           std::wstring(100, L'\u00e9') +
                                           L"...\" (400 bytes; the limit is 255)"},
  };
  for (const auto& c : refused) {
    std::vector<int> reads;
    auto message = Read(BinaryDataFrame{{}, c.name, data, {}}.ToString(), reads);
    EXPECT_EQ(reads, (std::vector<int>{51, static_cast<int>(c.name.size()), 2561, 40}));
    EXPECT_EQ(message->GetParseState(), BinaryDataMessage::kComplete);
    EXPECT_EQ(message->GetFailure(), c.text);
    EXPECT_EQ(message->GetCalculatedChecksum(), Testing::Sha1Hex(data));
    EXPECT_TRUE(message->GetFile()->GetPath().empty());
  }
  EXPECT_EQ(fs::directory_iterator(root_.Path()), fs::directory_iterator());  // nothing at all

  const std::u16string longest(255, u'b');
  auto padded = Read(BinaryDataFrame{{}, u"  " + longest + u"\t ", "abc", {}}.ToString());
  EXPECT_EQ(padded->GetFailure(), L"");
  EXPECT_EQ(padded->GetFileName(), longest);
  EXPECT_EQ(TempFiles().size(), 1u);

  // The field's largest value is a name the reader still reads whole.
  std::u16string frame = BinaryDataFrame{{}, u"a.txt", "abc", {}}.ToString();
  frame.replace(56, 5, u"99999");
  auto message = CreateMessage(frame.substr(0, 20));
  message->Parse(frame.substr(20, 51));
  EXPECT_EQ(message->GetRemainingLength(), 99999);
}

TEST_F(BinaryDataMessageTest, ChunkOfTheWrongSizeFails) {
  auto message = CreateMessage(BinaryDataFrame{{}, u"a.txt", "abc", {}}.ToString().substr(0, 20));
  try {
    message->Parse(std::u16string(50, u'0'));
    ADD_FAILURE();
  } catch (const QuellorException& e) {
    EXPECT_EQ(e.GetCode(), -112);
    EXPECT_EQ(e.GetMessage(), L"BINDATA expected 51 characters but got 50.");
  }
}

TEST_F(BinaryDataMessageTest, NamesThatChooseADirectoryAreRefusedAndNothingIsWritten) {
  for (const std::u16string& name : std::vector<std::u16string>{
           u"../x", u"/tmp/x", u"a\\b", u"..", u" . ", u"   ", std::u16string(u"a\0b", 3)}) {
    auto message = Read(BinaryDataFrame{{}, name, "data", {}}.ToString());
    EXPECT_EQ(message->GetParseState(), BinaryDataMessage::kComplete);
    EXPECT_EQ(message->GetFailure().rfind(L"Invalid file name: \"", 0), 0u)
        << Platform::ToUtf8(message->GetFailure());
    EXPECT_TRUE(message->GetFile()->GetPath().empty());
  }
  EXPECT_TRUE(TempFiles().empty());
  EXPECT_EQ(fs::directory_iterator(root_.Path()), fs::directory_iterator());  // nothing at all
}

TEST_F(BinaryDataMessageTest, PeerChosenIdNeverNamesTheTemporaryFileOutsideItsDirectory) {
  auto message = Read(BinaryDataFrame{u"../../../../escape", u"a.txt", "abc", {}}.ToString());
  const fs::path path = Platform::ToUtf8(message->GetFile()->GetPath());
  EXPECT_EQ(path.parent_path(), temp_);
  EXPECT_EQ(path.filename().string().find('/'), std::string::npos);
  EXPECT_EQ(TempFiles().size(), 1u);
}

// --- Write failures ---------------------------------------------------------------

TEST_F(BinaryDataMessageTest, FailedWriteRemovesThePartialFileAndReadsOn) {
  UseFactory(/*capacity=*/10240);
  std::vector<int> reads;
  auto message = Read(BinaryDataFrame{{}, u"big.bin", PatternBytes(0, 30000), {}}.ToString(), reads);
  EXPECT_EQ(reads.size(), 2u + 3u + 1u);  // every chunk was still read
  EXPECT_EQ(message->GetParseState(), BinaryDataMessage::kComplete);
  const std::wstring path = message->GetFile()->GetPath();
  EXPECT_EQ(message->GetFailure(),
            L"Error appending data to file \"" + path + L"\".  Error: No space left on device");
  EXPECT_TRUE(log_.Count(L"Error appending data to file"));
  EXPECT_TRUE(TempFiles().empty());
}

// The last bytes of a file stay in the write buffer until it is closed; a
// write that fails there fails the file as a failed append does.
TEST_F(BinaryDataMessageTest, BytesLostWhenTheFileIsClosedFailTheFile) {
  Testing::FileSizeLimit limit;
  if (!limit.Set(64 * 1024)) GTEST_SKIP() << "cannot lower the file size limit";
  auto message = Read(BinaryDataFrame{{}, u"big.bin", PatternBytes(0, 128 * 1024), {}}.ToString());
  limit.Restore();
  EXPECT_EQ(message->GetParseState(), BinaryDataMessage::kComplete);
  EXPECT_EQ(message->GetFailure(), L"Error appending data to file \"" +
                                       message->GetFile()->GetPath() +
                                       L"\".  Error: File too large");
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(BinaryDataMessageTest, TemporaryFileThatCannotBeOpenedIsReported) {
  root_.WriteFile("blocker", "a file where the temporary directory should be");
  File::SetProcessFileFactory(
      std::make_shared<File::FileFactoryImpl>((root_.Path() / "blocker" / "temp").string()));
  auto message = Read(BinaryDataFrame{{}, u"a.txt", "abc", {}}.ToString());
  EXPECT_EQ(message->GetFailure().rfind(L"Error opening file \"" +
                                            Platform::FromUtf8((root_.Path() / "blocker").string()),
                                        0),
            0u)
      << Platform::ToUtf8(message->GetFailure());
}

TEST_F(BinaryDataMessageTest, DroppedMessageRemovesItsTemporaryFile) {
  const std::u16string frame = BinaryDataFrame{{}, u"a.bin", PatternBytes(0, 20000), {}}.ToString();
  {
    auto message = CreateMessage(frame.substr(0, 20));
    message->Parse(frame.substr(20, 51));
    message->Parse(frame.substr(71, 5));
    message->Parse(frame.substr(76, 5120));
    EXPECT_EQ(TempFiles().size(), 1u);
  }
  EXPECT_TRUE(TempFiles().empty());
}

// When the connection is gone before the file is processed, the file goes and
// nothing is answered.
TEST_F(BinaryDataMessageTest, ProcessDataOnAClosedConnectionRemovesTheFile) {
  auto message = Read(BinaryDataFrame{{}, u"a.txt", "abc", {}}.ToString());
  auto io = std::make_shared<boost::asio::io_context>(1);
  ConnectionSettings settings{L"id", L"name", L"en", 300, 60000, 45501,
                              Platform::FromUtf8((root_.Path() / "files").string())};
  auto connection = std::make_shared<Connection>(io, std::make_shared<ListenerSlot>(), nullptr,
                                                 std::move(settings), ConnectionKind::kFile,
                                                 std::make_shared<FileProcessingThreads>());
  ASSERT_TRUE(connection->IsClosed());
  ASSERT_EQ(TempFiles().size(), 1u);
  message->ProcessData(connection);
  EXPECT_TRUE(TempFiles().empty());
  EXPECT_FALSE(fs::exists(root_.Path() / "files"));
}

// --- The message kinds --------------------------------------------------------------

TEST_F(BinaryDataMessageTest, FactoryReadsBinDataButNeverBinAck) {
  auto message = CreateMessage(u"CVNPBDP002BINDATA   ");
  ASSERT_TRUE(std::dynamic_pointer_cast<BinaryDataMessage>(message));
  EXPECT_EQ(message->GetRemainingLength(), 51);
  EXPECT_EQ(message->GetProtocolVersion(), 2);
  for (const auto& [header, code] : {std::pair{u"CVNPBDP001BINDATA   ", -105},
                                     std::pair{u"CVNPBDP002BINACK    ", -103}}) {
    try {
      CreateMessage(header);
      ADD_FAILURE();
    } catch (const QuellorException& e) {
      EXPECT_EQ(e.GetCode(), code);
    }
  }
  try {
    message->ToString();
    ADD_FAILURE();
  } catch (const QuellorException& e) {
    EXPECT_EQ(e.GetCode(), -999);
    EXPECT_EQ(e.GetMessage(), L"Not implemented");
  }
}

TEST_F(BinaryDataMessageTest, AckFrames) {
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
  } catch (const QuellorException& e) {
    EXPECT_EQ(e.GetCode(), -999);
  }
}

// --- On a file connection -------------------------------------------------------------

// A file connection over loopback, with its own I/O thread, and a vendor
// application that has shaken hands on it.
class BinaryDataMessageOnConnectionTest : public BinaryDataMessageTest {
 protected:
  BinaryDataMessageOnConnectionTest()
      : io_(std::make_shared<boost::asio::io_context>(1)),
        guard_(io_->get_executor()),
        acceptor_(*io_, {boost::asio::ip::address_v4::loopback(), 0}) {
    slot_->Set(&listener_);
    thread_ = std::thread([this] { io_->run(); });
    ConnectionSettings settings{L"engine", L"Engine", L"en", 1000, 60000, 45501,
                                Platform::FromUtf8(files_.string())};
    connection_ = std::make_shared<Connection>(io_, slot_, nullptr, std::move(settings),
                                               ConnectionKind::kFile, threads_);
    std::promise<void> started;
    boost::asio::post(*io_, [&] {
      acceptor_.async_accept(connection_->GetStream(), [&](const boost::system::error_code&) {
        connection_->Start([&](const std::shared_ptr<Connection>&, const std::exception_ptr&) {
          started.set_value();
        });
      });
    });
    peer_ = std::make_unique<Testing::TestPeer>(acceptor_.local_endpoint().port());
    EXPECT_TRUE(peer_->HandShake());
    started.get_future().wait();
  }
  ~BinaryDataMessageOnConnectionTest() override {
    peer_.reset();
    connection_->Stop(false);
    threads_->JoinAll();
    connection_.reset();
    boost::asio::post(*io_, [this] { acceptor_.close(); });
    guard_.reset();
    thread_.join();
  }

  fs::path files_ = root_.Path() / "files";
  Testing::RecordingListener listener_;
  std::shared_ptr<ListenerSlot> slot_ = std::make_shared<ListenerSlot>();
  std::shared_ptr<FileProcessingThreads> threads_ = std::make_shared<FileProcessingThreads>();
  std::shared_ptr<boost::asio::io_context> io_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> guard_;
  boost::asio::ip::tcp::acceptor acceptor_;
  std::thread thread_;
  std::shared_ptr<Connection> connection_;
  std::unique_ptr<Testing::TestPeer> peer_;
};

// A full disk answers the sender, tells the host, leaves nothing behind, and
// the next file on the same stream is read in step.
TEST_F(BinaryDataMessageOnConnectionTest, FailedWriteIsAnsweredAndTheStreamStaysInStep) {
  UseFactory(/*capacity=*/10240);
  const std::u16string id = peer_->SendBinaryData(u"big.bin", PatternBytes(0, 30000));
  auto refused = peer_->WaitFor<BinaryDataAckMessage>();
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->GetMessageId(), id);
  EXPECT_EQ(refused->GetSuccessFlag(), 0);
  const std::wstring text = Platform::FromUtf16(refused->GetErrorText());
  EXPECT_EQ(text.rfind(L"Error appending data to file \"", 0), 0u);
  ASSERT_TRUE(listener_.WaitForErrors(1));
  EXPECT_EQ(listener_.Errors(), (std::vector<std::pair<int, std::wstring>>{
                                    {-113, L"Error on socket read.  Error message = \"" + text + L"\""}}));
  peer_->SendBinaryData(u"small.txt", "fits");
  auto accepted = peer_->WaitFor<BinaryDataAckMessage>();
  ASSERT_TRUE(accepted);
  EXPECT_EQ(accepted->GetSuccessFlag(), 1);
  ASSERT_TRUE(listener_.WaitForFiles(1));
  EXPECT_EQ(listener_.Files(), std::vector<std::wstring>{Platform::FromUtf8((files_ / "small.txt").string())});
  EXPECT_EQ(listener_.Errors().size(), 1u);
  EXPECT_FALSE(fs::exists(files_ / "big.bin"));
  EXPECT_TRUE(TempFiles().empty());
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
