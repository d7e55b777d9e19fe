#include "filestore/FileDelivery.h"
#include "platform/WideError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <future>

#include "interface/Quellor.h"
#include "filestore/FileImpl.h"
#include "support/TempDir.h"

namespace Corvane {
namespace File {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class FileDeliveryTest : public ::testing::Test {
 protected:
  // A received file in temp/ holding `text`.
  std::shared_ptr<FileImpl> Received(const std::string& text) {
    auto file = std::make_shared<FileImpl>((root_.Path() / "temp").string());
    file->Open(L"incoming-" + std::to_wstring(++count_));
    file->Append(text);
    file->Close();
    return file;
  }
  // Everything in the file directory, hidden names included.
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(files_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  Testing::TempDir root_;
  const fs::path files_ = root_.Path() / "files";
  const std::wstring directory_ = files_.wstring();
  int count_ = 0;
};

TEST_F(FileDeliveryTest, RollbackPutsTheReplacedFileBackAndCommitDropsIt) {
  root_.WriteFile("files/a.txt", "older");
  {
    FileDelivery delivery(directory_, L"a.txt", 1s);
    delivery.Move(*Received("newer"));
    EXPECT_EQ(Testing::ReadFile(files_ / "a.txt"), "newer");
    delivery.Rollback();
  }
  EXPECT_EQ(Testing::ReadFile(files_ / "a.txt"), "older");
  EXPECT_EQ(Listing(), std::vector<std::string>{"a.txt"});
  {
    FileDelivery delivery(directory_, L"a.txt", 1s);
    delivery.Move(*Received("newer"));
    delivery.Commit();
  }
  EXPECT_EQ(Testing::ReadFile(files_ / "a.txt"), "newer");
  EXPECT_EQ(Listing(), std::vector<std::string>{"a.txt"});
  {
    // Dropped without an outcome: taken back; a new name leaves nothing.
    FileDelivery delivery(directory_, L"b.txt", 1s);
    delivery.Move(*Received("dropped"));
  }
  EXPECT_EQ(Listing(), std::vector<std::string>{"a.txt"});
}

TEST_F(FileDeliveryTest, RollbackNeverRemovesAFileThatIsNoLongerItsOwn) {
  FileDelivery delivery(directory_, L"a.txt", 1s);
  delivery.Move(*Received("delivered"));
  // Someone else puts another file under the name (another inode).
  root_.WriteFile("files/other", "someone else's");
  fs::rename(files_ / "other", files_ / "a.txt");
  delivery.Rollback();
  EXPECT_EQ(Testing::ReadFile(files_ / "a.txt"), "someone else's");
}

TEST_F(FileDeliveryTest, ASecondDeliveryOfTheNameWaitsForTheFirstOutcome) {
  auto first = std::make_unique<FileDelivery>(directory_, L"a.txt", 1s);
  first->Move(*Received("first"));
  EXPECT_THROW(FileDelivery(directory_, L"a.txt", 20ms), Platform::WideError);
  FileDelivery other(directory_, L"b.txt", 20ms);  // other names go on

  auto second = std::async(std::launch::async, [&] {
    FileDelivery delivery(directory_, L"a.txt", 10s);
    delivery.Move(*Received("second"));
    delivery.Commit();
  });
  EXPECT_EQ(second.wait_for(50ms), std::future_status::timeout);
  first->Rollback();  // the first is taken back before the second moves
  second.get();
  EXPECT_EQ(Testing::ReadFile(files_ / "a.txt"), "second");
}

// Records what a delivery puts on the disk, in order, with what the
// destination held at that moment; a step may be made to fail.
class RecordedSync {
 public:
  explicit RecordedSync(std::string destination) : destination_(std::move(destination)) {
    auto sync = std::make_shared<FileDelivery::DiskSync>();
    sync->fileData = [this](const std::string& file) { return Step("data " + Name(file)); };
    sync->directory = [this](const std::string&) { return Step("directory"); };
    FileDelivery::SetDiskSync(sync);
  }
  ~RecordedSync() { FileDelivery::SetDiskSync(nullptr); }

  std::vector<std::string> steps;
  std::string failing;  // the step that fails

 private:
  std::string Name(const std::string& path) const {
    return path == destination_ ? "destination" : "source";
  }
  std::string Step(const std::string& step) {
    std::error_code ignored;
    const bool there = fs::exists(destination_, ignored);
    steps.push_back(step + (there ? " (name there)" : " (name free)"));
    return step == failing ? "fdatasync: Input/output error" : "";
  }
  std::string destination_;
};

// The data reaches the disk before the rename, the new name after it: after
// a crash the name holds the whole file or is still the older one.
TEST_F(FileDeliveryTest, DataIsSyncedBeforeTheRenameAndTheDirectoryAfter) {
  RecordedSync sync((files_ / "a.txt").string());
  fs::create_directories(files_);
  FileDelivery delivery(directory_, L"a.txt", 1s);
  delivery.Move(*Received("newer"));
  delivery.Commit();
  EXPECT_EQ(sync.steps,
            (std::vector<std::string>{"data source (name free)", "directory (name there)"}));
}

// A sync that fails is a failed delivery: nothing stands under the name but
// the older file, which is synced back into place.
TEST_F(FileDeliveryTest, AFailedSyncTakesTheMoveBackAndKeepsTheOlderFile) {
  for (const std::string failing : {"data source", "directory"}) {
    root_.WriteFile("files/a.txt", "older");
    RecordedSync sync((files_ / "a.txt").string());
    sync.failing = failing;
    FileDelivery delivery(directory_, L"a.txt", 1s);
    try {
      delivery.Move(*Received("newer"));
      ADD_FAILURE() << "a failed " << failing << " sync must fail the move";
    } catch (const Platform::WideError& e) {
      EXPECT_EQ(e.GetMessage(),
                L"The file could not be put on the disk: fdatasync: Input/output error");
    }
    delivery.Rollback();
    EXPECT_EQ(Testing::ReadFile(files_ / "a.txt"), "older") << failing;
    EXPECT_EQ(Listing(), std::vector<std::string>{"a.txt"}) << failing;
    if (failing == "directory") {
      EXPECT_EQ(sync.steps.back(), "directory (name there)");
    }
  }
}

}  // namespace
}  // namespace File
}  // namespace Corvane
