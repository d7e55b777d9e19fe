#include "connection/FileReception.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>

#include "support/LoggingTestSupport.h"
#include "connection/BoostSocket.h"
#include "connection/ChunkWriter.h"
#include "connection/Connection.h"
#include "connection/FileWorkPool.h"
#include "connection/ListenerSlot.h"
#include "filestore/FileFactoryImpl.h"
#include "filestore/FileImpl.h"
#include "platform/TextConversion.h"
#include "protocol/BinaryDataAckMessage.h"
#include "protocol/BinaryDataMessage.h"
#include "protocol/ConnectMessage.h"
#include "protocol/FieldCodec.h"
#include "protocol/MessageFactory.h"
#include "protocol/WireFormat.h"
#include "support/BinaryDataFrame.h"
#include "support/Eventually.h"
#include "support/FileSizeLimit.h"
#include "support/FrameReader.h"
#include "support/MemorySocket.h"
#include "support/RecordingListener.h"
#include "support/TempDir.h"
#include "support/TestPeer.h"
#include "support/TestTiming.h"

namespace Corvane {
namespace Client {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Testing::BinaryDataFrame;
using Testing::Eventually;
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

// A BINDATA read as a file connection reads it: the codec's message, and the
// reception that took its bytes.
struct Received {
  std::shared_ptr<BinaryDataMessage> message;
  std::shared_ptr<FileReception> reception;
  const BinaryDataMessage* operator->() const { return message.get(); }
};

// Receptions whose temporary files go to a directory of the test, with log
// lines captured in memory.
class FileReceptionTest : public ::testing::Test {
 protected:
  FileReceptionTest() { UseFactory(); }

  // Temporary files in temp_, failing beyond `capacity` bytes when given.
  void UseFactory(std::size_t capacity = 0) {
    if (capacity == 0) {
      factory_ = std::make_shared<File::FileFactoryImpl>(temp_.string());
    } else {
      factory_ = std::make_shared<FullDiskFactory>(temp_.string(), capacity);
    }
  }

  // What a file connection of these tests is told: files come from factory_.
  std::shared_ptr<const ConnectionSettings> Settings(std::wstring fileDirectory = std::wstring(),
                                                     std::uint64_t minFreeBytes = 0) const {
    auto settings = std::make_shared<ConnectionSettings>();
    settings->fileFactory = factory_;
    settings->fileDirectory = std::move(fileDirectory);
    settings->minFreeBytes = minFreeBytes;
    return settings;
  }

  // Reads `frame` as a connection does, recording the size of every body read.
  Received Read(const std::u16string& frame, std::vector<int>& reads) {
    auto reception = std::make_shared<FileReception>(Settings(), pool_);
    std::shared_ptr<IntegrationMessage> message;
    reads = Testing::ReadChunks(frame, message, reception.get());
    return {std::dynamic_pointer_cast<BinaryDataMessage>(message), reception};
  }
  Received Read(const std::u16string& frame) {
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
  std::shared_ptr<File::FileFactory> factory_;
  Testing::LogCapture log_;
  // Writes the files larger than one chunk.
  std::shared_ptr<FileWorkPool> pool_ = std::make_shared<FileWorkPool>();
};

TEST_F(FileReceptionTest, WorkedExampleIsReadIn20_51_5_2_40) {
  BinaryDataFrame frame{kId, u"a.txt", "abc", {}};
  const std::u16string text = frame.ToString();
  ASSERT_EQ(text.size(), 118u);
  std::vector<int> reads;
  auto message = Read(text, reads);
  EXPECT_EQ(reads, (std::vector<int>{51, 5, 2, 40}));
  EXPECT_EQ(message->GetMessageId(), kId);
  EXPECT_EQ(message->GetFileName(), u"a.txt");
  EXPECT_EQ(message.reception->GetCalculatedChecksum(), u"a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(message->GetExpectedChecksum(), message.reception->GetCalculatedChecksum());
  EXPECT_EQ(message->GetParseState(), BinaryDataMessage::kComplete);
  EXPECT_EQ(Testing::ReadFile(Platform::ToUtf8(message.reception->GetFile()->GetPath())), "abc");
}

TEST_F(FileReceptionTest, DataArrivesInChunksOfAtMost5120Characters) {
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
    EXPECT_EQ(Testing::ReadFile(Platform::ToUtf8(message.reception->GetFile()->GetPath())), data) << c.bytes;
    EXPECT_EQ(message.reception->GetCalculatedChecksum(), message->GetExpectedChecksum()) << c.bytes;
  }
}

TEST_F(FileReceptionTest, EmptyFileGoesFromNameToChecksum) {
  std::vector<int> reads;
  auto message = Read(BinaryDataFrame{{}, u"empty", "", {}}.ToString(), reads);
  EXPECT_EQ(reads, (std::vector<int>{51, 5, 40}));
  EXPECT_EQ(message.reception->GetCalculatedChecksum(), u"da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_TRUE(fs::exists(Platform::ToUtf8(message.reception->GetFile()->GetPath())));
}

TEST_F(FileReceptionTest, NameIsTrimmedAndChecksumComparedExactly) {
  BinaryDataFrame frame{{}, u" \ta.txt  ", "abc", u"A9993E364706816ABA3E25717850C26C9CD0D89D"};
  auto message = Read(frame.ToString());
  EXPECT_EQ(message->GetFileNameLength(), 9);
  EXPECT_EQ(message->GetFileName(), u"a.txt");
  EXPECT_NE(message->GetExpectedChecksum(), message.reception->GetCalculatedChecksum());
}

// --- Lengths and names from the peer ---------------------------------------------

// A name the file system cannot hold (over 255 bytes in UTF-8, whatever its
// length in characters) is read whole and its data read and hashed, so the
// stream stays in step; the file is refused and nothing is written. The limit
// applies to the name as stored, after trimming.
TEST_F(FileReceptionTest, NamesTooLongToStoreAreReadInStepAndRefused) {
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
    EXPECT_EQ(message.reception->GetFailure(), c.text);
    EXPECT_EQ(message.reception->GetCalculatedChecksum(), Testing::Sha1Hex(data));
    EXPECT_TRUE(message.reception->GetFile()->GetPath().empty());
  }
  EXPECT_EQ(fs::directory_iterator(root_.Path()), fs::directory_iterator());  // nothing at all

  const std::u16string longest(255, u'b');
  auto padded = Read(BinaryDataFrame{{}, u"  " + longest + u"\t ", "abc", {}}.ToString());
  EXPECT_EQ(padded.reception->GetFailure(), L"");
  EXPECT_EQ(padded->GetFileName(), longest);
  EXPECT_EQ(TempFiles().size(), 1u);

  // The field's largest value is a name the reader still reads whole.
  std::u16string frame = BinaryDataFrame{{}, u"a.txt", "abc", {}}.ToString();
  frame.replace(56, 5, u"99999");
  auto message = CreateMessage(frame.substr(0, 20));
  message->Parse(frame.substr(20, 51));
  EXPECT_EQ(message->GetRemainingLength(), 99999);
}

TEST_F(FileReceptionTest, NamesThatChooseADirectoryAreRefusedAndNothingIsWritten) {
  for (const std::u16string& name : std::vector<std::u16string>{
           u"../x", u"/tmp/x", u"a\\b", u"..", u" . ", u"   ", std::u16string(u"a\0b", 3)}) {
    auto message = Read(BinaryDataFrame{{}, name, "data", {}}.ToString());
    EXPECT_EQ(message->GetParseState(), BinaryDataMessage::kComplete);
    EXPECT_EQ(message.reception->GetFailure().rfind(L"Invalid file name: \"", 0), 0u)
        << Platform::ToUtf8(message.reception->GetFailure());
    EXPECT_TRUE(message.reception->GetFile()->GetPath().empty());
  }
  EXPECT_TRUE(TempFiles().empty());
  EXPECT_EQ(fs::directory_iterator(root_.Path()), fs::directory_iterator());  // nothing at all
}

// Lone surrogates are valid units on the wire but have no form on disk: two
// such names would land on one file, and both senders would be told theirs
// arrived. A pair is one character and is kept.
TEST_F(FileReceptionTest, NamesWithAnUnpairedSurrogateAreRefused) {
  for (const std::u16string& name : std::vector<std::u16string>{
           u"ls-\xD800.bin", u"ls-\xDC00.bin", u"\xDBFFtail", std::u16string(u"end\xD800")}) {
    auto message = Read(BinaryDataFrame{{}, name, "data", {}}.ToString());
    EXPECT_EQ(message->GetParseState(), BinaryDataMessage::kComplete);
    EXPECT_NE(message.reception->GetFailure().find(L"unpaired surrogate"), std::wstring::npos)
        << Platform::ToUtf8(message.reception->GetFailure());
  }
  EXPECT_TRUE(TempFiles().empty());
  auto paired = Read(BinaryDataFrame{{}, u"ls-\xD83D\xDE00.bin", "data", {}}.ToString());
  EXPECT_TRUE(paired.reception->GetFailure().empty())
      << Platform::ToUtf8(paired.reception->GetFailure());
}

TEST_F(FileReceptionTest, PeerChosenIdNeverNamesTheTemporaryFileOutsideItsDirectory) {
  auto message = Read(BinaryDataFrame{u"../../../../escape", u"a.txt", "abc", {}}.ToString());
  const fs::path path = Platform::ToUtf8(message.reception->GetFile()->GetPath());
  EXPECT_EQ(path.parent_path(), temp_);
  EXPECT_EQ(path.filename().string().find('/'), std::string::npos);
  EXPECT_EQ(TempFiles().size(), 1u);
}

// --- Write failures ---------------------------------------------------------------

TEST_F(FileReceptionTest, FailedWriteRemovesThePartialFileAndReadsOn) {
  UseFactory(/*capacity=*/10240);
  std::vector<int> reads;
  auto message = Read(BinaryDataFrame{{}, u"big.bin", PatternBytes(0, 30000), {}}.ToString(), reads);
  EXPECT_EQ(reads.size(), 2u + 3u + 1u);  // every chunk was still read
  EXPECT_EQ(message->GetParseState(), BinaryDataMessage::kComplete);
  const std::wstring path = message.reception->GetFile()->GetPath();
  EXPECT_EQ(message.reception->GetFailure(),
            L"Error appending data to file \"" + path + L"\".  Error: No space left on device");
  EXPECT_TRUE(log_.Count(L"Error appending data to file"));
  EXPECT_TRUE(TempFiles().empty());
}

// The last bytes of a file stay in the write buffer until it is closed; a
// write that fails there fails the file as a failed append does.
TEST_F(FileReceptionTest, BytesLostWhenTheFileIsClosedFailTheFile) {
  Testing::FileSizeLimit limit;
  if (!limit.Set(64 * 1024)) GTEST_SKIP() << "cannot lower the file size limit";
  auto message = Read(BinaryDataFrame{{}, u"big.bin", PatternBytes(0, 128 * 1024), {}}.ToString());
  limit.Restore();
  EXPECT_EQ(message->GetParseState(), BinaryDataMessage::kComplete);
  EXPECT_EQ(message.reception->GetFailure(), L"Error appending data to file \"" +
                                       message.reception->GetFile()->GetPath() +
                                       L"\".  Error: File too large");
  EXPECT_TRUE(TempFiles().empty());
}

// A file larger than one chunk is hashed and written by its writer on the
// pool; the last bytes it loses when it closes the file fail the file all the
// same.
TEST_F(FileReceptionTest, BytesLostWhenTheWriterClosesTheFileFailTheFile) {
  Testing::FileSizeLimit limit;
  if (!limit.Set(ChunkWriter::kChunkBytes + 40 * 1024)) {
    GTEST_SKIP() << "cannot lower the file size limit";
  }
  const std::size_t size = ChunkWriter::kChunkBytes + 100 * 1024;
  auto message = Read(BinaryDataFrame{{}, u"big.bin", PatternBytes(0, size), {}}.ToString());
  ASSERT_TRUE(Eventually([&] { return message.reception->IsWritten(); }));
  limit.Restore();
  EXPECT_EQ(message.reception->GetFailure(), L"Error appending data to file \"" +
                                                 message.reception->GetFile()->GetPath() +
                                                 L"\".  Error: File too large");
  EXPECT_EQ(message.reception->GetCalculatedChecksum(), message->GetExpectedChecksum());
  EXPECT_TRUE(log_.Count(L"Error appending data to file"));
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(FileReceptionTest, TemporaryFileThatCannotBeOpenedIsReported) {
  root_.WriteFile("blocker", "a file where the temporary directory should be");
  factory_ = std::make_shared<File::FileFactoryImpl>((root_.Path() / "blocker" / "temp").string());
  auto message = Read(BinaryDataFrame{{}, u"a.txt", "abc", {}}.ToString());
  EXPECT_EQ(message.reception->GetFailure().rfind(L"Error opening file \"" +
                                            Platform::FromUtf8((root_.Path() / "blocker").string()),
                                        0),
            0u)
      << Platform::ToUtf8(message.reception->GetFailure());
}

// A file that would eat into the free-space reserve is refused before it is
// written; the data is still read, so the stream stays in step.
TEST_F(FileReceptionTest, AFileThatWouldEatIntoTheReserveIsRefused) {
  auto reception = std::make_shared<FileReception>(
      Settings(Platform::FromUtf8((root_.Path() / "files").string()),
               std::uint64_t{1} << 62));  // more than any disk here
  std::shared_ptr<IntegrationMessage> message;
  Testing::ReadChunks(BinaryDataFrame{{}, u"big.bin", PatternBytes(0, 20000), {}}.ToString(),
                      message, reception.get());
  EXPECT_EQ(std::static_pointer_cast<BinaryDataMessage>(message)->GetParseState(),
            BinaryDataMessage::kComplete);
  EXPECT_EQ(reception->GetFailure().rfind(L"Not enough free space for \"big.bin\" (20000 bytes; ", 0),
            0u)
      << Platform::ToUtf8(reception->GetFailure());
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(FileReceptionTest, DroppedReceptionRemovesItsTemporaryFile) {
  const std::u16string frame = BinaryDataFrame{{}, u"a.bin", PatternBytes(0, 20000), {}}.ToString();
  {
    auto reception = std::make_shared<FileReception>(Settings());
    auto message = std::static_pointer_cast<BinaryDataMessage>(CreateMessage(frame.substr(0, 20)));
    message->SetSink(reception.get());
    message->Parse(frame.substr(20, 51));
    message->Parse(frame.substr(71, 5));
    message->Parse(frame.substr(76, 5120));
    EXPECT_EQ(TempFiles().size(), 1u);
  }
  EXPECT_TRUE(TempFiles().empty());
}

// When the connection is gone before the file is processed, the file goes and
// nothing is answered.
TEST_F(FileReceptionTest, FinishOnAClosedConnectionRemovesTheFile) {
  auto message = Read(BinaryDataFrame{{}, u"a.txt", "abc", {}}.ToString());
  boost::asio::io_context io(1);
  ConnectionSettings settings{L"id", L"name", L"en", std::chrono::milliseconds(300),
                              std::chrono::milliseconds(60000), 45501,
                              Platform::FromUtf8((root_.Path() / "files").string()), factory_,
                              std::chrono::milliseconds(0)};
  auto connection = std::make_shared<Connection>(
      std::make_shared<BoostSocket>(std::make_shared<boost::asio::ip::tcp::socket>(io)),
      std::make_shared<ListenerSlot>(), nullptr, std::move(settings), ConnectionKind::kFile,
      std::make_shared<FileWorkPool>());
  ASSERT_TRUE(connection->IsClosed());
  ASSERT_EQ(TempFiles().size(), 1u);
  message.reception->Finish(message.message, connection);
  EXPECT_TRUE(TempFiles().empty());
  EXPECT_FALSE(fs::exists(root_.Path() / "files"));
}

// --- The message kinds --------------------------------------------------------------

// --- On a file connection -------------------------------------------------------------

// A file connection over loopback, with its own I/O thread, and a vendor
// application that has shaken hands on it.
class FileReceptionOnConnectionTest : public FileReceptionTest {
 protected:
  // Hands out the fixture's current factory, so a test may change it after
  // the connection was made.
  class CurrentFactory : public File::FileFactory {
   public:
    explicit CurrentFactory(const std::shared_ptr<File::FileFactory>& current) : current_(current) {}
    std::shared_ptr<File::File> NewFile() override { return current_->NewFile(); }
    std::shared_ptr<File::File> NewFile(const File::File& other) override {
      return current_->NewFile(other);
    }

   private:
    const std::shared_ptr<File::FileFactory>& current_;
  };

  FileReceptionOnConnectionTest()
      : io_(std::make_shared<boost::asio::io_context>(1)),
        guard_(io_->get_executor()),
        acceptor_(*io_, {boost::asio::ip::address_v4::loopback(), 0}) {
    slot_->Set(&listener_);
    thread_ = std::thread([this] { io_->run(); });
    ConnectionSettings settings{L"engine", L"Engine", L"en", std::chrono::milliseconds(1000),
                                std::chrono::milliseconds(60000), 45501,
                                Platform::FromUtf8(files_.string()),
                                std::make_shared<CurrentFactory>(factory_),
                                std::chrono::milliseconds(0)};
    auto stream = std::make_shared<boost::asio::ip::tcp::socket>(*io_);
    connection_ = std::make_shared<Connection>(std::make_shared<BoostSocket>(stream), slot_,
                                               nullptr, std::move(settings), ConnectionKind::kFile,
                                               threads_);
    std::promise<void> started;
    boost::asio::post(*io_, [&, stream] {
      acceptor_.async_accept(*stream, [&](const boost::system::error_code&) {
        connection_->Start([&](const std::shared_ptr<Connection>&, const std::exception_ptr&) {
          started.set_value();
        });
      });
    });
    peer_ = std::make_unique<Testing::TestPeer>(acceptor_.local_endpoint().port());
    EXPECT_TRUE(peer_->HandShake());
    started.get_future().wait();
  }
  ~FileReceptionOnConnectionTest() override {
    peer_.reset();
    connection_->End(Farewell::kNone);
    threads_->JoinAll();
    connection_.reset();
    boost::asio::post(*io_, [this] { acceptor_.close(); });
    guard_.reset();
    thread_.join();
  }

  fs::path files_ = root_.Path() / "files";
  Testing::RecordingListener listener_;
  std::shared_ptr<ListenerSlot> slot_ = std::make_shared<ListenerSlot>();
  std::shared_ptr<FileWorkPool> threads_ = std::make_shared<FileWorkPool>();
  std::shared_ptr<boost::asio::io_context> io_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> guard_;
  boost::asio::ip::tcp::acceptor acceptor_;
  std::thread thread_;
  std::shared_ptr<Connection> connection_;
  std::unique_ptr<Testing::TestPeer> peer_;
};

// A full disk answers the sender, tells the host, leaves nothing behind, and
// the next file on the same stream is read in step.
TEST_F(FileReceptionOnConnectionTest, FailedWriteIsAnsweredAndTheStreamStaysInStep) {
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

// --- Written on the file work pool, behind a slow disk --------------------------

// Appends wait at the gate until the test opens it: a disk as slow as the
// test wants. Opened failing, it fails the append waiting, as a full disk.
struct Gate {
  void Open(bool failing = false) {
    std::lock_guard<std::mutex> lock(mutex);
    open = true;
    fail_next = failing;
    changed.notify_all();
  }
  // Lets `appends` more pass while closed.
  void Let(int appends) {
    std::lock_guard<std::mutex> lock(mutex);
    allowance += appends;
    changed.notify_all();
  }
  bool WaitForWriter() {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, 10s, [&] { return waiting > 0; });
  }
  // Each append passes here; true when it must fail. Never waits for ever.
  bool Pass() {
    std::unique_lock<std::mutex> lock(mutex);
    ++waiting;
    changed.notify_all();
    changed.wait_for(lock, 30s, [&] { return open || allowance > 0; });
    if (!open && allowance > 0) --allowance;
    --waiting;
    return std::exchange(fail_next, false);
  }
  std::mutex mutex;
  std::condition_variable changed;
  int waiting = 0;
  int allowance = 0;
  bool open = false;
  bool fail_next = false;
};

class GatedFile : public File::FileImpl {
 public:
  GatedFile(std::string tempDirectory, std::shared_ptr<Gate> gate)
      : FileImpl(std::move(tempDirectory)), gate_(std::move(gate)) {}
  using FileImpl::Append;
  void Append(const char* data, std::size_t size) override {
    if (gate_->Pass()) throw wexception(L"No space left on device");
    FileImpl::Append(data, size);
  }

 private:
  const std::shared_ptr<Gate> gate_;
};

class GatedFactory : public File::FileFactoryImpl {
 public:
  GatedFactory(std::string tempDirectory, std::shared_ptr<Gate> gate)
      : FileFactoryImpl(std::move(tempDirectory)), gate_(std::move(gate)) {}
  using FileFactoryImpl::NewFile;
  std::shared_ptr<File::File> NewFile() override {
    auto file = std::make_shared<GatedFile>(GetTempDirectory(), gate_);
    last_ = file;
    return file;
  }
  std::weak_ptr<File::File> last_;  // expires once everyone has let go of it

 private:
  const std::shared_ptr<Gate> gate_;
};

// A file connection on a stream in memory, whose files are written behind
// the gate; the test plays the peer and counts the reads the connection
// starts.
class FileReceptionSlowDiskTest : public FileReceptionTest {
 protected:
  explicit FileReceptionSlowDiskTest(
      std::size_t poolThreads = FileWorkPool::kDefaultMaxThreads)
      : threads_(std::make_shared<FileWorkPool>(poolThreads)), guard_(io_.get_executor()) {
    factory_ = files_factory_;
    thread_ = std::thread([this] { io_.run(); });
    slot_->Set(&listener_);
    socket_ = std::make_shared<Testing::MemorySocket>(
        io_, [this](Testing::MemorySocket&, const std::u16string& frame) {
          std::lock_guard<std::mutex> lock(mutex_);
          if (Wire::ReadText(frame, Wire::kPrefixLength, Wire::kTypeNameWidth) ==
              Wire::kTypeBinaryAck) {
            acks_.push_back(frame.substr(56));  // flag, text length, text
          }
        });
    ConnectionSettings settings;
    settings.ackTimeout = std::chrono::milliseconds(Testing::Scaled(10000));
    settings.fileDirectory = Platform::FromUtf8(files_.string());
    settings.fileFactory = factory_;
    connection_ = std::make_shared<Connection>(socket_, slot_, nullptr, settings,
                                               ConnectionKind::kFile, threads_);
    socket_->Deliver(ConnectMessage(u"vendor-id", u"Vendor", u"127.0.0.1").ToString());
    std::promise<void> started;
    boost::asio::post(io_, [&] {
      connection_->Start([&](const std::shared_ptr<Connection>&, const std::exception_ptr&) {
        started.set_value();
      });
    });
    started.get_future().wait();
  }
  ~FileReceptionSlowDiskTest() override {
    gate_->Open();
    if (connection_) connection_->End(Farewell::kNone);
    connection_.reset();
    threads_->JoinAll();
    slot_->Clear();
    guard_.reset();
    thread_.join();
  }

  // The operations the connection has started, once it starts no more: the
  // stream holds everything sent, so a connection still reading always has
  // a read completing on the I/O thread.
  int SettledOperations() {
    int before = -1;
    int now = socket_->Operations();
    for (int round = 0; round < 100000 && now != before; ++round) {
      std::promise<void> drained;
      boost::asio::post(io_, [&] { drained.set_value(); });
      drained.get_future().wait();
      before = now;
      now = socket_->Operations();
    }
    return now;
  }
  std::vector<std::u16string> Acks() {
    std::lock_guard<std::mutex> lock(mutex_);
    return acks_;
  }

  const fs::path files_ = root_.Path() / "files";
  const std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
  const std::shared_ptr<GatedFactory> files_factory_ =
      std::make_shared<GatedFactory>(temp_.string(), gate_);
  const std::string data_ = PatternBytes(0, 3 * 1024 * 1024);  // more than the queue holds
  Testing::RecordingListener listener_;
  std::shared_ptr<ListenerSlot> slot_ = std::make_shared<ListenerSlot>();
  std::shared_ptr<FileWorkPool> threads_;
  boost::asio::io_context io_;
  boost::asio::executor_work_guard<boost::asio::io_context::executor_type> guard_;
  std::thread thread_;
  std::shared_ptr<Testing::MemorySocket> socket_;
  std::shared_ptr<Connection> connection_;
  std::mutex mutex_;
  std::vector<std::u16string> acks_;
};

// While the disk keeps the writer's queue full the connection stops reading,
// so memory stays bounded by the queue; the file then arrives whole.
TEST_F(FileReceptionSlowDiskTest, AFullQueueHoldsTheReadingBackUntilTheDiskCatchesUp) {
  const int handshake = SettledOperations();  // and the next header's read
  socket_->Deliver(BinaryDataFrame{{}, u"big.bin", data_, {}}.ToString());
  ASSERT_TRUE(gate_->WaitForWriter());
  // The header's read completed, then the fixed part and the name were read.
  const std::size_t dataRead = (SettledOperations() - handshake - 2) * std::size_t{10240};
  const std::size_t queue = ChunkWriter::kMaxChunks * ChunkWriter::kChunkBytes;
  EXPECT_GT(dataRead, queue - ChunkWriter::kChunkBytes);
  EXPECT_LE(dataRead, queue + 10240);

  gate_->Open();
  ASSERT_TRUE(Eventually([&] { return !Acks().empty(); }));
  EXPECT_EQ(Acks(), std::vector<std::u16string>{u"10000"});
  EXPECT_EQ(Testing::ReadFile(files_ / "big.bin"), data_);
  EXPECT_TRUE(TempFiles().empty());
}

// A disk that fills up while the reading is held back: the rest of the file
// is still read and hashed, the sender gets flag 0 with the write's text, the
// host -113, nothing is left, and the next frame is read in step.
TEST_F(FileReceptionSlowDiskTest, AWriteThatFailsWhileTheReadingIsHeldBackIsAnswered) {
  socket_->Deliver(BinaryDataFrame{{}, u"big.bin", data_, {}}.ToString());
  ASSERT_TRUE(gate_->WaitForWriter());
  const std::wstring path = files_factory_->last_.lock()->GetPath();
  SettledOperations();
  gate_->Open(/*failing=*/true);
  ASSERT_TRUE(Eventually([&] { return !Acks().empty(); }));
  const std::wstring text =
      L"Error appending data to file \"" + path + L"\".  Error: No space left on device";
  const std::u16string ackText = Platform::ToUtf16(text);
  const auto length = static_cast<long long>(ackText.size());
  EXPECT_EQ(Acks(), std::vector<std::u16string>{u"0" + Wire::FormatNumber(length, 4) + ackText});
  ASSERT_TRUE(listener_.WaitForErrors(1));
  const std::wstring hostText = L"Error on socket read.  Error message = \"" + text + L"\"";
  EXPECT_EQ(listener_.Errors(), (std::vector<std::pair<int, std::wstring>>{{-113, hostText}}));
  EXPECT_TRUE(TempFiles().empty());

  socket_->Deliver(BinaryDataFrame{{}, u"small.txt", "fits", {}}.ToString());
  ASSERT_TRUE(Eventually([&] { return Acks().size() == 2; }));
  EXPECT_EQ(Acks()[1], u"10000");
  EXPECT_FALSE(fs::exists(files_ / "big.bin"));
  EXPECT_EQ(Testing::ReadFile(files_ / "small.txt"), "fits");
}

// A connection that ends while its file's chunks wait for a stuck disk:
// whoever lets go of it (the I/O thread, the engine) does not wait for the
// disk, nothing more is read or answered, and the file goes once the write
// has returned.
TEST_F(FileReceptionSlowDiskTest, AConnectionEndedWhileChunksWaitLeavesNothingBehind) {
  socket_->Deliver(BinaryDataFrame{{}, u"big.bin", data_, {}}.ToString());
  ASSERT_TRUE(gate_->WaitForWriter());
  const int held = SettledOperations();
  auto released = std::async(std::launch::async, [connection = std::move(connection_)]() mutable {
    connection->End(Farewell::kNone);
    connection.reset();
  });
  EXPECT_EQ(released.wait_for(10s), std::future_status::ready);
  EXPECT_FALSE(files_factory_->last_.expired());  // the stuck write still holds it
  gate_->Open();
  EXPECT_TRUE(Eventually([&] { return files_factory_->last_.expired(); }));
  EXPECT_TRUE(TempFiles().empty());
  EXPECT_EQ(socket_->Operations(), held);
  EXPECT_TRUE(Acks().empty());
  EXPECT_FALSE(fs::exists(files_));
}

// All file work on one thread: the file's chunks, the check that follows
// them and the next file's check share it without any of them waiting for
// another, even when everything queues up behind other work first.
class FileReceptionOneThreadTest : public FileReceptionSlowDiskTest {
 protected:
  FileReceptionOneThreadTest() : FileReceptionSlowDiskTest(1) {}
};

// The file is read to its end while its chunks are still being written, and
// more of them are queued than one turn of the thread writes: the check must
// not take the thread while the rest of the writing waits behind it.
TEST_F(FileReceptionOneThreadTest, TheCheckNeverTakesTheThreadFromTheWritingItFollows) {
  socket_->Deliver(BinaryDataFrame{{}, u"big.bin", data_, {}}.ToString());
  socket_->Deliver(BinaryDataFrame{{}, u"small.txt", "fits", {}}.ToString());
  ASSERT_TRUE(gate_->WaitForWriter());
  SettledOperations();  // the first chunk in hand, 7 read
  gate_->Let(5);
  ASSERT_TRUE(Eventually([&] {
    std::lock_guard<std::mutex> lock(gate_->mutex);
    return gate_->allowance == 0 && gate_->waiting > 0;
  }));
  SettledOperations();  // the whole file is read: 5 chunks written, 1 in hand, 6 queued
  gate_->Open();
  ASSERT_TRUE(Eventually([&] { return Acks().size() == 2; }));
  EXPECT_EQ(Acks(), (std::vector<std::u16string>{u"10000", u"10000"}));
  EXPECT_EQ(Testing::ReadFile(files_ / "big.bin"), data_);
}

TEST_F(FileReceptionOneThreadTest, ChunksAndChecksShareTheThreadWithoutWaitingForEachOther) {
  gate_->Open();
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  ASSERT_EQ(threads_->Launch([released] { released.wait(); }), FileWorkPool::Outcome::kRunning);
  socket_->Deliver(BinaryDataFrame{{}, u"big.bin", data_, {}}.ToString());
  socket_->Deliver(BinaryDataFrame{{}, u"small.txt", "fits", {}}.ToString());
  SettledOperations();  // held back by the full queue
  EXPECT_TRUE(Acks().empty());
  release.set_value();
  ASSERT_TRUE(Eventually([&] { return Acks().size() == 2; }));
  EXPECT_EQ(Acks(), (std::vector<std::u16string>{u"10000", u"10000"}));
  EXPECT_EQ(Testing::ReadFile(files_ / "big.bin"), data_);
  EXPECT_EQ(Testing::ReadFile(files_ / "small.txt"), "fits");
  EXPECT_TRUE(TempFiles().empty());
  EXPECT_EQ(threads_->ThreadCount(), 1u);
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
