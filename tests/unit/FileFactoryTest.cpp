#include "filestore/FileFactoryImpl.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "filestore/FileImpl.h"
#include "filestore/TempDirectory.h"
#include "platform/ModuleDirectory.h"
#include "support/TempDir.h"

namespace Corvane {
namespace File {
namespace {

namespace fs = std::filesystem;
using Testing::ReadFile;
using Testing::TempDir;

// A handle of another kind: only its path is known.
class ForeignFile : public File {
 public:
  explicit ForeignFile(std::wstring path) : path_(std::move(path)) {}
  void Open(const std::wstring&) override {}
  void Append(const std::string&) override {}
  void Close() override {}
  bool IsOpen() const override { return false; }
  std::wstring GetPath() const override { return path_; }
  void MoveTo(const std::wstring&, const std::wstring&) override {}
  void Remove() override {}
  std::uintmax_t ClearTempDirectory() override { return 0; }
  void Append(const char*, std::size_t) override {}
  std::wstring GetWriteFailure() const override { return L""; }

 private:
  std::wstring path_;
};

class FileFactoryImplTest : public ::testing::Test {
 protected:
  TempDir root_;
  fs::path temp_ = root_.Path() / "temp";
  FileFactoryImpl factory_{temp_.string()};
};

TEST_F(FileFactoryImplTest, NewFileHasNoPathAndWritesInTheFactorysTempDirectory) {
  auto file = factory_.NewFile();
  ASSERT_TRUE(file);
  EXPECT_EQ(L"", file->GetPath());
  EXPECT_FALSE(file->IsOpen());

  file->Open(L"id.1");
  file->Append("x");
  file->Close();
  EXPECT_EQ("x", ReadFile(temp_ / "id.1"));
  EXPECT_NE(file, factory_.NewFile());
}

TEST_F(FileFactoryImplTest, NewFileOfAFileImplIsAClosedHandleOnTheSameFile) {
  auto original = factory_.NewFile();
  original->Open(L"id.1");
  original->Append("shared");

  auto copy = factory_.NewFile(*original);
  EXPECT_EQ(original->GetPath(), copy->GetPath());
  EXPECT_FALSE(copy->IsOpen());
  original->Close();

  copy->MoveTo((root_.Path() / "files").wstring(), L"x.txt");
  EXPECT_EQ("shared", ReadFile(root_.Path() / "files" / "x.txt"));
  // Same temporary directory: the copy clears the original's.
  EXPECT_EQ(1u, copy->ClearTempDirectory());
  EXPECT_FALSE(fs::exists(temp_));
}

TEST_F(FileFactoryImplTest, NewFileOfAnotherKindTakesItsPathAndParentDirectory) {
  const fs::path elsewhere = root_.Path() / "elsewhere";
  root_.WriteFile("elsewhere/a.bin", "foreign");
  root_.WriteFile("elsewhere/b.bin", "other");

  auto copy = factory_.NewFile(ForeignFile((elsewhere / "a.bin").wstring()));
  auto impl = std::dynamic_pointer_cast<FileImpl>(copy);
  ASSERT_TRUE(impl);
  EXPECT_EQ((elsewhere / "a.bin").wstring(), copy->GetPath());
  EXPECT_EQ(elsewhere.string(), impl->GetTempDirectory());

  copy->Remove();
  EXPECT_FALSE(fs::exists(elsewhere / "a.bin"));
  EXPECT_TRUE(fs::exists(elsewhere / "b.bin"));
}


}  // namespace
}  // namespace File
}  // namespace Corvane
