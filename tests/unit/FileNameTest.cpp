#include "filestore/FileName.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace Corvane {
namespace File {
namespace {

const std::wstring kRefusedNames[] = {
    L"../x", L"/etc/passwd", L"a\\b", L"a/b", L".", L"..", L"  ", L"", std::wstring(L"a\0b", 3),
    L" .. ", L"\t.\r\n", L"..\\..\\windows", L"x/", std::wstring(1, L'\0'),
};

TEST(FileNameTest, RefusesNamesThatChooseADirectoryOrAreEmpty) {
  for (const std::wstring& name : kRefusedNames) {
    SCOPED_TRACE(testing::PrintToString(name));
    EXPECT_FALSE(IsPlainFileName(name));
    EXPECT_EQ(0u, CheckFileName(name).rfind(L"Invalid file name: \"", 0));
  }
}

TEST(FileNameTest, AcceptsPlainNames) {
  for (const std::wstring name :
       {L"a.txt", L"a..b", L"name with spaces.doc", L" padded ", L"Bericht-\u00e4\u00df.pdf",
        L"a:b", L"\U0001F600.png"}) {
    SCOPED_TRACE(testing::PrintToString(name));
    EXPECT_TRUE(IsPlainFileName(name));
    EXPECT_EQ(L"", CheckFileName(name));
  }
}

// Plain, but not for a received file: hidden, or carrying control characters.
TEST(FileNameTest, ReceivedNamesMayNotBeHiddenOrHoldControlCharacters) {
  for (const std::wstring name : {L".hidden", L"..a", L"a\x1b[2Jb", L"line\nbreak", L"del\x7f",
                                  L"c1\x85"}) {
    SCOPED_TRACE(testing::PrintToString(name));
    EXPECT_TRUE(IsPlainFileName(name));
    EXPECT_EQ(0u, CheckFileName(name).rfind(L"Invalid file name: \"", 0));
  }
}

TEST(FileNameTest, ErrorTextShowsTheNamePrintablyAndBounded) {
  EXPECT_EQ(L"Invalid file name: \"a?b\"", CheckFileName(std::wstring(L"a\0b", 3)));
  EXPECT_EQ(L"Invalid file name: \"../x\"", CheckFileName(L"../x"));
  const std::wstring text = CheckFileName(std::wstring(500, L'a') + L"/b");
  EXPECT_EQ(L"Invalid file name: \"" + std::wstring(100, L'a') + L"...\"", text);
}

// The file system holds at most 255 bytes of a name, and names are stored in
// UTF-8: the limit counts bytes, not characters.
TEST(FileNameTest, NamesLongerThanTheFileSystemHoldsAreRefused) {
  EXPECT_EQ(L"", CheckFileName(std::wstring(255, L'a')));
  EXPECT_EQ(L"", CheckFileName(std::wstring(127, L'\u00e9') + L"a"));  // 255 bytes
  EXPECT_EQ(L"File name is too long: \"" + std::wstring(100, L'a') +
                L"...\" (256 bytes; the limit is 255)",
            CheckFileName(std::wstring(256, L'a')));
  EXPECT_EQ(L"File name is too long: \"" + std::wstring(100, L'\u00e9') +
                L"...\" (400 bytes; the limit is 255)",
            CheckFileName(std::wstring(200, L'\u00e9')));
  // A control character refuses a name whatever its length; shown printably.
  EXPECT_EQ(0u, CheckFileName(L"a\tb" + std::wstring(300, L'x'))
                    .rfind(L"Invalid file name: \"a?bxx", 0));
  // A name that would choose a directory says so, whatever its length.
  EXPECT_EQ(0u, CheckFileName(std::wstring(300, L'a') + L"/b").rfind(L"Invalid file name: ", 0));
}

TEST(FileNameTest, TemporaryFileNameKeepsASafeIdAndIsUnique) {
  const std::wstring id = L"9b2c4e6a-1d3f-4a5b-8c7d-0e1f2a3b4c5d";
  const std::wstring first = TemporaryFileName(id);
  const std::wstring second = TemporaryFileName(id);
  EXPECT_EQ(0u, first.rfind(id + L".", 0)) << first;
  EXPECT_EQ(0u, second.rfind(id + L".", 0)) << second;
  EXPECT_NE(first, second);
  EXPECT_EQ(0u, TemporaryFileName(std::wstring(64, L'Z')).rfind(std::wstring(64, L'Z') + L".", 0));
}

TEST(FileNameTest, TemporaryFileNameNeutralisesUnsafeIds) {
  const std::vector<std::wstring> ids = {
      L"", L"..", L".", L"../../etc/passwd", L"a/b", L"a\\b", std::wstring(L"a\0b", 3),
      std::wstring(65, L'a'), L"id with space", L"\u00e4", L"a.b"};
  std::set<std::wstring> names;
  for (const std::wstring& id : ids) {
    SCOPED_TRACE(testing::PrintToString(id));
    const std::wstring name = TemporaryFileName(id);
    EXPECT_EQ(0u, name.rfind(L"message.", 0)) << testing::PrintToString(name);
    EXPECT_TRUE(IsPlainFileName(name));
    names.insert(name);
  }
  EXPECT_EQ(ids.size(), names.size());
}

}  // namespace
}  // namespace File
}  // namespace Corvane
