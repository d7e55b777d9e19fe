// The engine in-process with a file store whose moves the test holds up, to
// show that a file being processed keeps the engine's destruction waiting:
// the processing thread runs the library's code, which unloading removes.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>

#include "support/LoggingTestSupport.h"
#include "engine/Tarnlink.h"
#include "filestore/FileDelivery.h"
#include "filestore/FileFactoryImpl.h"
#include "filestore/RunTempDirectory.h"
#include "filestore/FileImpl.h"
#include "protocol/BinaryDataAckMessage.h"
#include "support/FreePort.h"
#include "support/TempDir.h"
#include "support/TestPeer.h"

namespace Corvane {
namespace Client {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Lets the test see a move begin and decide when it may go on.
struct Gate {
  std::promise<void> entered;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
};

class HeldMoveFile : public File::FileImpl {
 public:
  HeldMoveFile(std::string tempDirectory, std::shared_ptr<Gate> gate)
      : FileImpl(std::move(tempDirectory)), gate_(std::move(gate)) {}
  void MoveTo(const std::wstring& directory, const std::wstring& name) override {
    gate_->entered.set_value();
    gate_->released.wait();
    FileImpl::MoveTo(directory, name);
  }

 private:
  std::shared_ptr<Gate> gate_;
};

class HeldMoveFactory : public File::FileFactoryImpl {
 public:
  HeldMoveFactory(std::string tempDirectory, std::shared_ptr<Gate> gate)
      : FileFactoryImpl(std::move(tempDirectory)), gate_(std::move(gate)) {}
  using FileFactoryImpl::NewFile;
  std::shared_ptr<File::File> NewFile() override {
    return std::make_shared<HeldMoveFile>(GetTempDirectory(), gate_);
  }

 private:
  std::shared_ptr<Gate> gate_;
};

TEST(TarnlinkFileReceptionTest, DestructionWaitsForTheFileBeingProcessed) {
  Testing::ScopedCaptureEventSink events;
  Testing::TempDir module;
  const fs::path files = module.Path() / "files";
  auto gate = std::make_shared<Gate>();
  auto runTemp = std::make_shared<File::RunTempDirectory>((module.Path() / "temp").string());
  auto engine = std::make_unique<Tarnlink>(
      module.WidePath(), std::make_shared<HeldMoveFactory>(runTemp->GetPath(), gate), runTemp);
  const int filePort = Testing::FreeTcpPort();
  engine->Start(L"client-id", L"Client", L"239.1.2.3", 45599, Testing::FreeTcpPort(), 15000, false,
                1000, 60000, filePort, files.wstring());
  Testing::TestPeer peer(filePort);
  ASSERT_TRUE(peer.HandShake());
  peer.SendBinaryData(u"a.txt", "abc");
  ASSERT_EQ(gate->entered.get_future().wait_for(5s), std::future_status::ready);

  auto destroyed = std::async(std::launch::async, [&] { engine.reset(); });
  EXPECT_EQ(destroyed.wait_for(100ms), std::future_status::timeout);
  gate->release.set_value();
  EXPECT_EQ(destroyed.wait_for(10s), std::future_status::ready);
  // The processing had passed its check of the connection and moved the
  // file, but its sender could no longer be answered: the delivery was taken
  // back, so the file directory is as it was.
  EXPECT_FALSE(std::filesystem::exists(files / "a.txt"));
}

// A Start right after a Stop does not clear temp/ under a file still being
// checked: the check's move finds its file.
TEST(TarnlinkFileReceptionTest, StartWaitsForFilesStillBeingChecked) {
  Testing::LogCapture log;
  Testing::TempDir module;
  auto gate = std::make_shared<Gate>();
  auto runTemp = std::make_shared<File::RunTempDirectory>((module.Path() / "temp").string());
  Tarnlink engine(module.WidePath(), std::make_shared<HeldMoveFactory>(runTemp->GetPath(), gate),
                  runTemp);
  int filePort = Testing::FreeTcpPort();
  const auto start = [&] {
    engine.Start(L"client-id", L"Client", L"239.1.2.3", 45599, Testing::FreeTcpPort(), 15000,
                 false, 5000, 60000, filePort, (module.Path() / "files").wstring());
  };
  start();
  Testing::TestPeer peer(filePort);
  ASSERT_TRUE(peer.HandShake());
  peer.SendBinaryData(u"a.txt", "abc");
  ASSERT_EQ(gate->entered.get_future().wait_for(5s), std::future_status::ready);
  engine.Stop();
  filePort = Testing::FreeTcpPort();
  auto restarted = std::async(std::launch::async, start);
  EXPECT_EQ(restarted.wait_for(100ms), std::future_status::timeout);  // waiting for the check
  gate->release.set_value();
  restarted.get();
  EXPECT_TRUE(engine.IsStarted());
  EXPECT_EQ(log.Count(L"Error occured moving file"), 0);
  engine.Stop();
}

// Over a real socket: the BINACK of 1 leaves only once the file's data and
// its new name are on the disk; a sync that fails answers flag 0 and keeps
// nothing.
TEST(TarnlinkFileReceptionTest, TheBinackWaitsForTheDiskAndAFailedSyncIsAFailedDelivery) {
  Testing::LogCapture log;
  Testing::TempDir module;
  const fs::path files = module.Path() / "files";
  std::promise<void> entered;
  std::promise<void> release;
  auto released = release.get_future().share();
  std::atomic<int> directorySyncs{0};
  std::atomic<bool> failing{false};
  auto sync = std::make_shared<File::FileDelivery::DiskSync>();
  sync->fileData = [&](const std::string&) -> std::string {
    return failing ? "fdatasync: No space left on device" : "";
  };
  sync->directory = [&](const std::string&) -> std::string {
    if (directorySyncs++ == 0) {
      entered.set_value();
      released.wait();
    }
    return "";
  };
  File::FileDelivery::SetDiskSync(sync);
  Tarnlink engine(module.WidePath());
  const int filePort = Testing::FreeTcpPort();
  engine.Start(L"client-id", L"Client", L"239.1.2.3", 45599, Testing::FreeTcpPort(), 15000, false,
               2000, 60000, filePort, files.wstring());
  Testing::TestPeer peer(filePort);
  ASSERT_TRUE(peer.HandShake());
  peer.SendBinaryData(u"a.txt", "abc");
  ASSERT_EQ(entered.get_future().wait_for(5s), std::future_status::ready);
  // Renamed but not yet synced into its directory: no answer yet.
  EXPECT_FALSE(peer.WaitFor<BinaryDataAckMessage>(200ms));
  release.set_value();
  auto ack = peer.WaitFor<BinaryDataAckMessage>(5s);
  ASSERT_TRUE(ack);
  EXPECT_EQ(ack->GetSuccessFlag(), 1);

  failing = true;
  peer.SendBinaryData(u"b.txt", "def");
  auto refused = peer.WaitFor<BinaryDataAckMessage>(5s);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->GetSuccessFlag(), 0);
  EXPECT_NE(refused->GetErrorText().find(u"No space left on device"), std::u16string::npos);
  EXPECT_FALSE(fs::exists(files / "b.txt"));
  engine.Stop();
  File::FileDelivery::SetDiskSync(nullptr);
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
