// Files sent to the engine's file port, end to end: the engine loaded as a
// host loads it, vendor applications played by test peers on loopback, and
// the file system checked afterwards.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "HostedEngineTest.h"
#include "platform/TextConversion.h"
#include "protocol/BinaryDataAckMessage.h"
#include "support/BinaryDataFrame.h"
#include "support/FreePort.h"
#include "support/RecordingListener.h"
#include "support/TempDir.h"
#include "support/TestPeer.h"

namespace Corvane {
namespace Testing {
namespace {

namespace fs = std::filesystem;
namespace Methods = Client::QuellorMethods;
using Client::BinaryDataAckMessage;
using namespace std::chrono_literals;

const std::u16string kId = u"9b2c4e6a-1d3f-4a5b-8c7d-0e1f2a3b4c5d";
const std::u16string kAckHeader = u"CVNPBDP002BINACK    ";

class FileReceptionTest : public HostedEngineTest {
 protected:
  void Start(const fs::path& fileDirectory) { HostedEngineTest::Start({}, fileDirectory); }
  void Start() { Start(files_); }

  TestPeer& ConnectFiles() { return Connect(u"file-sender", u"Vendor", file_port_); }

  // The next BINACK, which must answer `id`.
  std::shared_ptr<BinaryDataAckMessage> Ack(TestPeer& peer, const std::u16string& id) {
    auto ack = peer.WaitFor<BinaryDataAckMessage>(10s);
    EXPECT_TRUE(ack);
    if (ack) {
      EXPECT_EQ(ack->GetMessageId(), id);
    }
    return ack;
  }

  // The success flag of the next BINACK, which must answer `id`; -1 when none
  // came.
  int AckFlag(TestPeer& peer, const std::u16string& id) {
    auto ack = Ack(peer, id);
    return ack ? ack->GetSuccessFlag() : -1;
  }

  // The success flags of the next `count` BINACKs by message id: files
  // processed at once may be answered in any order.
  std::map<std::u16string, int> Acks(TestPeer& peer, std::size_t count) {
    std::map<std::u16string, int> flags;
    for (std::size_t i = 0; i < count; ++i) {
      auto ack = peer.WaitFor<BinaryDataAckMessage>(10s);
      EXPECT_TRUE(ack);
      if (ack) flags[ack->GetMessageId()] = ack->GetSuccessFlag();
    }
    return flags;
  }

  // Every path under the module directory, except the engine's own files.
  std::set<fs::path> Tree() const {
    std::set<fs::path> paths;
    for (auto it = fs::recursive_directory_iterator(module_.Path());
         it != fs::recursive_directory_iterator(); ++it) {
      const auto name = it->path().filename();
      if (name == "dtd") it.disable_recursion_pending();
      if (name == "dtd" || name == "Quellor.so" || name == "logger.ini" || name == "Engine.log") {
        continue;
      }
      // The engine's own temporary directory and its lock: bookkeeping.
      if (name.string().rfind("run-", 0) == 0 && it->path().parent_path() == temp_) continue;
      paths.insert(it->path());
    }
    return paths;
  }

  // Files waiting in temp/, in the engine's own directory or loose; its
  // directory and lock are not counted.
  std::vector<fs::path> TempFiles() const {
    std::vector<fs::path> files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(temp_, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
      const std::string name = it->path().filename().string();
      const bool bookkeeping = it->path().parent_path() == temp_ && name.rfind("run-", 0) == 0;
      if (!bookkeeping) files.push_back(it->path());
    }
    return files;
  }

  bool WaitForNoTempFiles() {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!TempFiles().empty()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }

  const fs::path files_ = module_.Path() / "files";
  const fs::path temp_ = module_.Path() / "temp";
};

TEST_F(FileReceptionTest, WorkedExampleIsStoredAcknowledgedAndReported) {
  Start();
  TestPeer& peer = ConnectFiles();
  const std::u16string frame = BinaryDataFrame{kId, u"a.txt", "abc", {}}.ToString();
  ASSERT_EQ(frame.size(), 118u);
  peer.SendRaw(frame);
  auto ack = Ack(peer, kId);
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->ToString(), kAckHeader + kId + u"10000");  // 61 characters
  ASSERT_TRUE(listener_.WaitForFiles(1));
  EXPECT_EQ(listener_.Files()[0], (files_ / "a.txt").wstring());
  EXPECT_EQ(ReadFile(files_ / "a.txt"), "abc");
  EXPECT_TRUE(TempFiles().empty());
  EXPECT_TRUE(WaitForLog("File " + (files_ / "a.txt").string() + " received from Vendor"));
}

TEST_F(FileReceptionTest, ChunkedOddAndEmptyFilesAreStoredExactly) {
  Start();
  TestPeer& peer = ConnectFiles();
  const std::string chunked = PatternBytes(0, 2 * 5120 + 1);
  const std::u16string chunkedId = peer.SendBinaryData(u"chunked.bin", chunked);
  const std::u16string emptyId = peer.SendBinaryData(u"empty.bin", "");
  EXPECT_EQ(Acks(peer, 2), (std::map<std::u16string, int>{{chunkedId, 1}, {emptyId, 1}}));
  ASSERT_TRUE(listener_.WaitForFiles(2));
  EXPECT_EQ(ReadFile(files_ / "chunked.bin"), chunked);
  EXPECT_TRUE(fs::exists(files_ / "empty.bin"));
  EXPECT_EQ(fs::file_size(files_ / "empty.bin"), 0u);
}

TEST_F(FileReceptionTest, UpperCaseChecksumIsRefusedAndNothingIsKept) {
  Start();
  TestPeer& peer = ConnectFiles();
  peer.SendRaw(
      BinaryDataFrame{kId, u"wrong.txt", "abc", u"A9993E364706816ABA3E25717850C26C9CD0D89D"}.ToString());
  auto ack = Ack(peer, kId);
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->ToString(), kAckHeader + kId + u"00018Incorrect Checksum");  // 79 characters
  // A later file is reported alone: the refused one never was.
  peer.SendBinaryData(u"after.txt", "ok");
  ASSERT_TRUE(listener_.WaitForFiles(1));
  EXPECT_EQ(listener_.Files(), std::vector<std::wstring>{(files_ / "after.txt").wstring()});
  EXPECT_FALSE(fs::exists(files_ / "wrong.txt"));
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(FileReceptionTest, ExistingFileOfTheSameNameIsReplaced) {
  Start();
  std::ofstream(files_ / "a.txt") << "old content";
  TestPeer& peer = ConnectFiles();
  EXPECT_EQ(AckFlag(peer, peer.SendBinaryData(u"a.txt", "new")), 1);
  EXPECT_EQ(ReadFile(files_ / "a.txt"), "new");
}

TEST_F(FileReceptionTest, MissingFileDirectoryIsCreatedWithItsParents) {
  fs::create_directories(module_.Path() / "deep");
  Start(module_.Path() / "deep" / "files");
  fs::remove_all(module_.Path() / "deep");
  TestPeer& peer = ConnectFiles();
  EXPECT_EQ(AckFlag(peer, peer.SendBinaryData(u"x.txt", "xyz")), 1);
  EXPECT_EQ(ReadFile(module_.Path() / "deep" / "files" / "x.txt"), "xyz");
}

// A delivery that fails at any step leaves nothing behind: the sender keeps
// its file and may send it again.
TEST_F(FileReceptionTest, FailedMoveIsAnsweredAndLeavesNothingInTemp) {
  Start();
  fs::remove_all(files_);
  std::ofstream(files_) << "a file where the file directory should be";
  TestPeer& peer = ConnectFiles();
  auto ack = Ack(peer, peer.SendBinaryData(u"a.txt", "abc"));
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->GetSuccessFlag(), 0);
  EXPECT_FALSE(ack->GetErrorText().empty());
  EXPECT_TRUE(WaitForNoTempFiles());
  EXPECT_TRUE(listener_.Files().empty());
}

TEST_F(FileReceptionTest, HostilePeerCannotWriteOutsideTheDirectories) {
  Start();
  TestPeer& peer = ConnectFiles();
  const std::string outside = "outside-" + std::to_string(file_port_);
  const std::vector<std::u16string> names{
      Platform::ToUtf16(L"../" + Platform::FromUtf8(outside)),
      Platform::ToUtf16(L"../../" + Platform::FromUtf8(outside)),
      Platform::ToUtf16((module_.Path() / outside).wstring()),
      Platform::ToUtf16(L"..\\" + Platform::FromUtf8(outside)),
      std::u16string(u"evil\0name", 9),
      u"..",
      u" . "};
  for (const auto& name : names) {
    auto ack = Ack(peer, peer.SendBinaryData(name, "payload"));
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->GetSuccessFlag(), 0);
    EXPECT_EQ(ack->GetErrorText().rfind(u"Invalid file name: \"", 0), 0u);
  }
  // A message id is no path either.
  const std::u16string hostileId = u"../../../" + Platform::ToUtf16(Platform::FromUtf8(outside));
  peer.SendRaw(BinaryDataFrame{hostileId, u"ok.txt", "fine", {}}.ToString());
  EXPECT_EQ(AckFlag(peer, hostileId), 1);

  ASSERT_TRUE(listener_.WaitForFiles(1));
  EXPECT_EQ(listener_.Files(), std::vector<std::wstring>{(files_ / "ok.txt").wstring()});
  EXPECT_EQ(Tree(), (std::set<fs::path>{files_, files_ / "ok.txt", temp_}));
  EXPECT_FALSE(fs::exists(module_.Path().parent_path() / outside));
}

// A name the file system cannot hold, in characters or in UTF-8 bytes, is
// refused with the data read in step: the next file on the connection
// arrives, and nothing of the refused ones is left anywhere.
TEST_F(FileReceptionTest, NamesTooLongToStoreAreRefusedAndTheConnectionReadsOn) {
  Start();
  TestPeer& peer = ConnectFiles();
  auto ack = Ack(peer, peer.SendBinaryData(std::u16string(300, u'a'), PatternBytes(0, 20001)));
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->GetSuccessFlag(), 0);
  EXPECT_EQ(ack->GetErrorText(), u"File name is too long: \"" + std::u16string(100, u'a') +
                                     u"...\" (300 bytes; the limit is 255)");
  ack = Ack(peer, peer.SendBinaryData(std::u16string(200, u'\u00e9'), "two bytes a character"));
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->GetSuccessFlag(), 0);
  EXPECT_EQ(ack->GetErrorText(), u"File name is too long: \"" + std::u16string(100, u'\u00e9') +
                                     u"...\" (400 bytes; the limit is 255)");
  EXPECT_EQ(AckFlag(peer, peer.SendBinaryData(u"after.txt", "ok")), 1);
  ASSERT_TRUE(listener_.WaitForFiles(1));
  EXPECT_EQ(listener_.Files(), std::vector<std::wstring>{(files_ / "after.txt").wstring()});
  EXPECT_TRUE(listener_.Errors().empty());
  EXPECT_EQ(Tree(), (std::set<fs::path>{files_, files_ / "after.txt", temp_}));
}

// A temporary directory that cannot be written: the sender is answered, the
// host is told as of any failed frame, and the connection goes on receiving.
TEST_F(FileReceptionTest, UnwritableTemporaryDirectoryIsAnsweredAndReportedToTheHost) {
  Start();
  // The engine's own directory in temp/ is where its files wait.
  fs::path own;
  for (const auto& entry : fs::directory_iterator(temp_)) {
    if (entry.is_directory()) own = entry.path();
  }
  ASSERT_FALSE(own.empty());
  fs::remove_all(own);
  std::ofstream(own) << "a file where the temporary directory should be";
  TestPeer& peer = ConnectFiles();
  auto ack = Ack(peer, peer.SendBinaryData(u"a.txt", PatternBytes(0, 12000)));
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->GetSuccessFlag(), 0);
  const std::wstring text = Platform::FromUtf16(ack->GetErrorText());
  EXPECT_EQ(text.rfind(L"Error opening file \"" + temp_.wstring() + L"/", 0), 0u)
      << Platform::ToUtf8(text);
  ASSERT_TRUE(listener_.WaitForErrors(1));
  EXPECT_EQ(listener_.Errors(), (std::vector<std::pair<int, std::wstring>>{
                                    {-113, L"Error on socket read.  Error message = \"" + text + L"\""}}));

  fs::remove(own);
  EXPECT_EQ(AckFlag(peer, peer.SendBinaryData(u"b.txt", "def")), 1);
  ASSERT_TRUE(listener_.WaitForFiles(1));
  EXPECT_EQ(listener_.Files(), std::vector<std::wstring>{(files_ / "b.txt").wstring()});
  EXPECT_FALSE(fs::exists(files_ / "a.txt"));
  EXPECT_EQ(listener_.Errors().size(), 1u);
}

TEST_F(FileReceptionTest, FilesArrivingAtOnceAllArrive) {
  Start();
  constexpr std::size_t kSize = 3 * 1024 * 1024 + 1;
  TestPeer& first = ConnectFiles();
  TestPeer& second = ConnectFiles();
  std::thread other([&] { second.SendPatternFile(u"id-2", u"two.bin", kSize); });
  first.SendPatternFile(u"id-1", u"one.bin", kSize);
  first.SendPatternFile(u"id-3", u"three.bin", kSize);  // a second one on the same connection
  other.join();
  EXPECT_EQ(Acks(first, 2), (std::map<std::u16string, int>{{u"id-1", 1}, {u"id-3", 1}}));
  EXPECT_EQ(Acks(second, 1), (std::map<std::u16string, int>{{u"id-2", 1}}));
  ASSERT_TRUE(listener_.WaitForFiles(3));
  const std::string expected = PatternBytes(0, kSize);
  for (const char* name : {"one.bin", "two.bin", "three.bin"}) {
    EXPECT_TRUE(ReadFile(files_ / name) == expected) << name;
  }
}

// A delivery whose sender resets right after the last byte may fail to be
// answered; taking it back must leave the file directory as it was, with the
// file it replaced, never without one.
TEST_F(FileReceptionTest, AnUnansweredDeliveryLeavesTheOlderFileInPlace) {
  Start();
  TestPeer& first = ConnectFiles();
  ASSERT_EQ(AckFlag(first, first.SendBinaryData(u"same.txt", "older")), 1);
  const auto failures = [&] {
    const std::string log = ReadFile(module_.Path() / "Engine.log");
    std::size_t count = 0;
    for (auto at = log.find("Failed to send BINDATA acknowledgement"); at != std::string::npos;
         at = log.find("Failed to send BINDATA acknowledgement", at + 1)) {
      ++count;
    }
    return count;
  };
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::size_t filesBefore = listener_.Files().size();
    const std::size_t failuresBefore = failures();
    TestPeer& second = ConnectFiles();
    second.SendBinaryData(u"same.txt", "newer");
    second.Reset();
    // Settled: nothing left in temp, and either the sender was answered, the
    // answer failed, or the file was never moved.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    for (;;) {
      const bool answered = listener_.Files().size() > filesBefore;
      const bool unanswered = failures() > failuresBefore;
      const bool untouched = ReadFile(files_ / "same.txt") == "older";
      if (TempFiles().empty() && (answered || unanswered || untouched)) break;
      ASSERT_LT(std::chrono::steady_clock::now(), deadline);
      std::this_thread::sleep_for(2ms);
    }
    const std::string kept = ReadFile(files_ / "same.txt");
    EXPECT_TRUE(kept == "older" || kept == "newer") << "\"" << kept << "\"";
    if (kept == "newer") {
      // Answered after all: the next round replaces it again.
      ASSERT_EQ(AckFlag(first, first.SendBinaryData(u"same.txt", "older")), 1);
    }
  }
}

// Stopping while a large file arrives or is processed neither crashes nor
// leaves a partial file, and the library unloads (at the end of the test)
// only after every file work thread has ended.
TEST_F(FileReceptionTest, StoppingWhileALargeFileIsUnderWay) {
  Start();
  TestPeer& peer = ConnectFiles();
  std::thread sender([&] { peer.SendPatternFile(u"big", u"big.bin", 256u * 1024 * 1024); });
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (TempFiles().empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  EXPECT_FALSE(TempFiles().empty());
  Stop();
  sender.join();
  EXPECT_TRUE(WaitForNoTempFiles());
  EXPECT_FALSE(fs::exists(files_ / "big.bin"));
  peers_.clear();

  // The engine still receives after a new start; then it stops while files
  // are being checked and moved.
  Start();
  TestPeer& again = ConnectFiles();
  EXPECT_EQ(AckFlag(again, again.SendBinaryData(u"small.txt", "ok")), 1);
  for (int i = 0; i < 4; ++i) {
    again.SendPatternFile(u"mid-" + std::u16string(1, static_cast<char16_t>(u'0' + i)),
                          u"mid.bin", 2u * 1024 * 1024);
  }
  Stop();
}

}  // namespace
}  // namespace Testing
}  // namespace Corvane
