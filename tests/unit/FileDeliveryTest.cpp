#include "filestore/FileDelivery.h"
#include "platform/WideError.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace File
}  // namespace Corvane
