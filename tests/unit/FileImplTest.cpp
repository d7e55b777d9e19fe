#include "filestore/FileImpl.h"
#include "platform/WideError.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "interface/Quellor.h"
#include "filestore/TempDirectory.h"
#include "support/FileSizeLimit.h"
#include "support/TempDir.h"

namespace Corvane {
namespace File {
namespace {

namespace fs = std::filesystem;
using Platform::WideError;
using Testing::ReadFile;
using Testing::TempDir;

// A module directory with its temporary directory (not created) and a file
// directory (not created) inside one fresh test directory.
class FileImplTest : public ::testing::Test {
 protected:
  FileImplTest()
      : module_(root_.Path() / "module"),
        temp_(TempDirectoryPath(module_.wstring())),
        files_(root_.Path() / "files") {}

  std::unique_ptr<FileImpl> NewFile() const { return std::make_unique<FileImpl>(temp_.string()); }

  // A closed file named `name` in the temporary directory holding `content`.
  std::unique_ptr<FileImpl> WrittenFile(const std::wstring& name, const std::string& content) {
    auto file = NewFile();
    file->Open(name);
    file->Append(content);
    file->Close();
    return file;
  }

  // Every path under the test directory, to show nothing else was created.
  std::set<fs::path> Tree() const {
    std::set<fs::path> paths;
    for (const auto& entry : fs::recursive_directory_iterator(root_.Path())) {
      paths.insert(entry.path());
    }
    return paths;
  }

  TempDir root_;
  fs::path module_;
  fs::path temp_;
  fs::path files_;
};

// Writing

TEST_F(FileImplTest, OpenCreatesTheTempDirectoryAndWritesAllBytes) {
  auto file = NewFile();
  EXPECT_EQ(L"", file->GetPath());
  EXPECT_FALSE(file->IsOpen());

  file->Open(L"a.bin");
  EXPECT_TRUE(file->IsOpen());
  EXPECT_EQ((temp_ / "a.bin").wstring(), file->GetPath());
  file->Append(std::string("ab\0c", 4));
  const char more[] = {'\xff', '\n'};
  file->Append(more, sizeof more);
  file->Append(std::string());
  file->Close();

  EXPECT_FALSE(file->IsOpen());
  EXPECT_EQ(std::string("ab\0c\xff\n", 6), ReadFile(temp_ / "a.bin"));
}

TEST_F(FileImplTest, OpenOfAnExistingNameTruncatesIt) {
  WrittenFile(L"a.bin", "old and long content");
  WrittenFile(L"a.bin", "new");
  EXPECT_EQ("new", ReadFile(temp_ / "a.bin"));
}

TEST_F(FileImplTest, TwentyMebibytesInReceptionSizedChunksArriveExactly) {
  constexpr std::size_t kSize = 20 * 1024 * 1024;
  constexpr std::size_t kChunk = 10240;
  std::string data(kSize, '\0');
  std::mt19937 random(7);
  for (char& c : data) c = static_cast<char>(random());

  auto file = NewFile();
  file->Open(L"big.bin");
  for (std::size_t offset = 0; offset < kSize; offset += kChunk) {
    file->Append(data.data() + offset, std::min(kChunk, kSize - offset));
  }
  file->Close();

  EXPECT_EQ(kSize, fs::file_size(temp_ / "big.bin"));
  EXPECT_TRUE(ReadFile(temp_ / "big.bin") == data);
}

// Moving and removing

TEST_F(FileImplTest, MoveToReplacesAnExistingFile) {
  fs::create_directories(files_);
  { std::ofstream(files_ / "report.pdf") << "previous"; }
  auto file = WrittenFile(L"id.1", "received");

  file->MoveTo(files_.wstring(), L"report.pdf");

  EXPECT_EQ("received", ReadFile(files_ / "report.pdf"));
  EXPECT_EQ((files_ / "report.pdf").wstring(), file->GetPath());
  EXPECT_FALSE(fs::exists(temp_ / "id.1"));
}

TEST_F(FileImplTest, MoveToCreatesAMissingDirectoryWithItsParents) {
  const fs::path target = files_ / "a" / "b";
  auto file = WrittenFile(L"id.1", "received");

  file->MoveTo(target.wstring(), L"x.txt");

  EXPECT_EQ("received", ReadFile(target / "x.txt"));
}

TEST_F(FileImplTest, OpenFileIsWrittenOutByMoveToAndByTheDestructor) {
  auto file = NewFile();
  file->Open(L"id.1");
  file->Append("still buffered");
  file->MoveTo(files_.wstring(), L"x.txt");
  EXPECT_FALSE(file->IsOpen());
  EXPECT_EQ("still buffered", ReadFile(files_ / "x.txt"));

  file->Open(L"id.2");
  file->Append("at destruction");
  file.reset();
  EXPECT_EQ("at destruction", ReadFile(temp_ / "id.2"));
}

TEST_F(FileImplTest, MoveToAnotherFileSystemCopiesTheFile) {
  // /dev/shm is a memory file system on Linux, so a rename there fails
  // with EXDEV and the copy path runs; elsewhere the plain rename is tested.
  const fs::path shm = "/dev/shm";
  std::error_code error;
  if (!fs::is_directory(shm, error)) GTEST_SKIP() << "no /dev/shm";
  const fs::path target = shm / ("corvane-move-" + root_.Path().filename().string());
  struct Cleanup {
    fs::path path;
    ~Cleanup() {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
  } cleanup{target};
  auto file = WrittenFile(L"id.1", "across");

  file->MoveTo(target.wstring(), L"x.txt");

  EXPECT_EQ("across", ReadFile(target / "x.txt"));
  EXPECT_FALSE(fs::exists(temp_ / "id.1"));
  EXPECT_EQ(std::vector<fs::path>{target / "x.txt"},
            std::vector<fs::path>(fs::directory_iterator(target), fs::directory_iterator()));
}

TEST_F(FileImplTest, FailedMoveLeavesTheFileWhereItWas) {
  fs::create_directories(files_ / "taken" / "inside");
  auto file = WrittenFile(L"id.1", "kept");

  EXPECT_THROW(file->MoveTo(files_.wstring(), L"taken"), WideError);

  EXPECT_EQ("kept", ReadFile(temp_ / "id.1"));
  EXPECT_EQ((temp_ / "id.1").wstring(), file->GetPath());
  EXPECT_TRUE(fs::is_directory(files_ / "taken" / "inside"));
}

TEST_F(FileImplTest, RemoveDeletesTheFileAndIgnoresOneAlreadyGone) {
  auto file = NewFile();
  file->Open(L"id.1");
  file->Append("x");
  file->Remove();
  EXPECT_FALSE(file->IsOpen());
  EXPECT_FALSE(fs::exists(temp_ / "id.1"));
  EXPECT_NO_THROW(file->Remove());
  EXPECT_NO_THROW(NewFile()->Remove());
}

TEST_F(FileImplTest, ClearTempDirectoryCountsEveryEntryAndTheDirectory) {
  WrittenFile(L"a", "1");
  WrittenFile(L"b", "2");
  fs::create_directory(temp_ / "empty");

  EXPECT_EQ(4u, NewFile()->ClearTempDirectory());
  EXPECT_FALSE(fs::exists(temp_));
  EXPECT_EQ(0u, NewFile()->ClearTempDirectory());
  EXPECT_TRUE(fs::is_directory(module_.parent_path()));
}

// Failures

TEST_F(FileImplTest, AppendWithoutAnOpenFileThrows) {
  auto file = NewFile();
  EXPECT_THROW(file->Append("x"), WideError);
  file->Open(L"id.1");
  file->Close();
  EXPECT_THROW(file->Append("x"), WideError);
  EXPECT_THROW(file->Append("x", 1), WideError);
  EXPECT_EQ("", ReadFile(temp_ / "id.1"));
}

TEST_F(FileImplTest, OpenFailureCarriesTheSystemText) {
  fs::create_directories(temp_ / "dir");
  auto file = NewFile();
  try {
    file->Open(L"dir");
    FAIL() << "a directory was opened as a file";
  } catch (const Platform::WideError& e) {
    EXPECT_EQ(L"Is a directory", e.GetMessage());
  }
  EXPECT_FALSE(file->IsOpen());
}

TEST_F(FileImplTest, NamesThatChooseADirectoryAreRefusedAndCreateNothing) {
  auto moved = WrittenFile(L"id.1", "content");
  const std::set<fs::path> before = Tree();
  const std::wstring names[] = {L"../x",  L"/etc/passwd", L"a\\b", L"a/b", L".",
                                L"..",    L"  ",          L"",     std::wstring(L"a\0b", 3),
                                L"../../escaped"};
  for (const std::wstring& name : names) {
    SCOPED_TRACE(testing::PrintToString(name));
    auto file = NewFile();
    try {
      file->Open(name);
      ADD_FAILURE() << "Open accepted the name";
    } catch (const Platform::WideError& e) {
      EXPECT_EQ(0u, e.GetMessage().rfind(L"Invalid file name: ", 0));
    }
    EXPECT_FALSE(file->IsOpen());
    EXPECT_EQ(L"", file->GetPath());
    try {
      moved->MoveTo(files_.wstring(), name);
      ADD_FAILURE() << "MoveTo accepted the name";
    } catch (const Platform::WideError& e) {
      EXPECT_EQ(0u, e.GetMessage().rfind(L"Invalid file name: ", 0));
    }
    EXPECT_EQ((temp_ / "id.1").wstring(), moved->GetPath());
  }
  EXPECT_EQ(before, Tree());
  EXPECT_FALSE(fs::exists(root_.Path().parent_path() / "escaped"));
}

TEST_F(FileImplTest, MoveToWithoutADirectoryIsRefused) {
  auto file = WrittenFile(L"id.1", "content");
  EXPECT_THROW(file->MoveTo(L"", L"x.txt"), WideError);
  EXPECT_EQ("content", ReadFile(temp_ / "id.1"));
}

TEST_F(FileImplTest, FailedWriteThrowsFromAppend) {
  // /dev/full accepts an open and fails every write with ENOSPC.
  FileImpl file("/dev");
  try {
    file.Open(L"full");
  } catch (const Platform::WideError& e) {
    GTEST_SKIP() << "cannot open /dev/full: " << e.what();
  }
  const std::string chunk(10240, 'x');
  bool failed = false;
  // More than one buffer's worth, so the stream has to write.
  for (std::size_t written = 0; written <= 2 * FileImpl::kBufferSize && !failed;
       written += chunk.size()) {
    try {
      file.Append(chunk);
    } catch (const Platform::WideError& e) {
      EXPECT_EQ(L"No space left on device", e.GetMessage());
      failed = true;
    }
  }
  EXPECT_TRUE(failed);
  // The handle stays failed.
  EXPECT_THROW(file.Append("x"), WideError);
  file.Close();
}

TEST_F(FileImplTest, BufferedBytesLostAtCloseAreReportedAndStopTheMove) {
  // Writes beyond the file size limit fail with EFBIG. All bytes stay in the
  // buffer until Close, which is where the failure must not vanish.
  Testing::FileSizeLimit guard;
  auto file = NewFile();
  file->Open(L"id.1");
  if (!guard.Set(64 * 1024)) GTEST_SKIP() << "cannot lower the file size limit";
  file->Append(std::string(128 * 1024, 'x'));
  file->Close();
  guard.Restore();

  try {
    file->MoveTo(files_.wstring(), L"x.txt");
    FAIL() << "a truncated file was delivered";
  } catch (const Platform::WideError& e) {
    EXPECT_EQ(L"File too large", e.GetMessage());
  }
  EXPECT_FALSE(fs::exists(files_ / "x.txt"));
  EXPECT_TRUE(fs::exists(temp_ / "id.1"));
}

// A link planted under a temporary file's name is removed, never written
// through: the file it points to keeps its content.
TEST_F(FileImplTest, OpenNeverWritesThroughALinkLeftUnderItsName) {
  root_.WriteFile("outside.txt", "precious");
  fs::create_directories(temp_);
  fs::create_symlink(root_.Path() / "outside.txt", temp_ / "id.1");
  auto file = WrittenFile(L"id.1", "received");
  EXPECT_EQ(Testing::ReadFile(root_.Path() / "outside.txt"), "precious");
  EXPECT_FALSE(fs::is_symlink(temp_ / "id.1"));
  EXPECT_EQ(Testing::ReadFile(temp_ / "id.1"), "received");
}

}  // namespace
}  // namespace File
}  // namespace Corvane
