#include "protocol/FieldCodec.h"

#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <mutex>
#include <thread>
#include <vector>
#include <set>
#include <string>

#include <gtest/gtest.h>

namespace Corvane {
namespace Client {
namespace {

using Wire::Field;
using Wire::FormatNumber;
using Wire::FormatText;
using Wire::ReadNumber;
using Wire::ReadText;

TEST(WireFormatTest, NumbersAreZeroFilledInFrontOfTheSign) {
  EXPECT_EQ(u"00080", FormatNumber(80, 5));
  EXPECT_EQ(u"00-5", FormatNumber(-5, 4));
  EXPECT_EQ(u"-100", FormatNumber(-100, 4));
  EXPECT_EQ(u"0000", FormatNumber(0, 4));
  // Too wide for the field: written whole.
  EXPECT_EQ(u"123456", FormatNumber(123456, 4));
}

TEST(WireFormatTest, TextIsPaddedOnTheRightAndNeverCut) {
  EXPECT_EQ(u"en   ", FormatText(u"en", 5));
  EXPECT_EQ(u"     ", FormatText(u"", 5));
  EXPECT_EQ(u"toolong", FormatText(u"toolong", 3));
}

TEST(WireFormatTest, NumbersReadLikeStreamExtraction) {
  struct Case {
    std::u16string text;
    bool ok;
    int value;
  };
  const Case cases[] = {
      {u"0008", true, 8},
      {u" \t\r\n\v\f42", true, 42},
      {u"12ab", true, 12},
      {u"+7", true, 7},
      {u"-000000005", true, -5},
      {u"00-5", true, 0},
      {u"-100", true, -100},
      {u"2147483647", true, INT_MAX},
      {u"-2147483648", true, INT_MIN},
      {u"", false, 0},
      {u"    ", false, 0},
      {u"abc", false, 0},
      {u"-", false, 0},
      {u"+ 5", false, 0},
      {u"2147483648", false, 0},
      {u"-2147483649", false, 0},
      {u"99999999999999999999", false, 0},
      {u"\u00a05", false, 0},  // only the six ASCII white-space characters are skipped
  };
  for (const Case& c : cases) {
    int value = 12345;
    EXPECT_EQ(c.ok, ReadNumber(c.text, value)) << std::string(c.text.begin(), c.text.end());
    EXPECT_EQ(c.ok ? c.value : 12345, value) << "a failed read leaves the value unchanged";
  }
}

TEST(WireFormatTest, FieldsNeverReachPastTheSource) {
  const std::u16string source = u"abcdef";
  EXPECT_EQ(u"cd", Field(source, 2, 2));
  EXPECT_EQ(u"ef", Field(source, 4, 10));
  EXPECT_EQ(u"", Field(source, 6, 3));
  EXPECT_EQ(u"", Field(source, 100, 3));
  EXPECT_TRUE(Wire::IsFieldComplete(source, 2, 4));
  EXPECT_FALSE(Wire::IsFieldComplete(source, 4, 3));

  int value = 9;
  EXPECT_FALSE(ReadNumber(u"12", 3, 4, value));
  EXPECT_EQ(9, value);
}

TEST(WireFormatTest, TextIsTrimmedOfAsciiWhiteSpaceOnly) {
  EXPECT_EQ(u"a b", ReadText(u"\t a b \r\n\v\f", 0, 10));
  EXPECT_EQ(u"\u00a0x", ReadText(u"\u00a0x  ", 0, 4));
  EXPECT_EQ(u"", ReadText(u"      ", 0, 6));
}

TEST(WireFormatTest, MessageIdsAreFreshLowerCaseVersion4Uuids) {
  std::set<std::u16string> seen;
  for (int i = 0; i < 100; ++i) {
    const std::u16string id = Wire::NewMessageId();
    ASSERT_EQ(36u, id.size());
    for (std::size_t p = 0; p < id.size(); ++p) {
      if (p == 8 || p == 13 || p == 18 || p == 23) {
        EXPECT_EQ(u'-', id[p]);
      } else {
        EXPECT_TRUE((id[p] >= u'0' && id[p] <= u'9') || (id[p] >= u'a' && id[p] <= u'f'));
      }
    }
    EXPECT_EQ(u'4', id[14]);
    EXPECT_NE(std::u16string::npos, std::u16string(u"89ab").find(id[19]));
    seen.insert(id);
  }
  EXPECT_EQ(100u, seen.size());
}

// Each thread draws from its own generator, and a forked child does not
// repeat its parent's next ids.
TEST(WireFormatTest, MessageIdsStayUniqueAcrossThreadsAndForks) {
  std::vector<std::u16string> ids;
  std::mutex mutex;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        const std::u16string id = Wire::NewMessageId();
        std::lock_guard<std::mutex> lock(mutex);
        ids.push_back(id);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(800u, std::set<std::u16string>(ids.begin(), ids.end()).size());

  int pipe_ends[2];
  ASSERT_EQ(0, pipe(pipe_ends));
  const pid_t child = fork();
  ASSERT_NE(-1, child);
  if (child == 0) {
    const std::u16string id = Wire::NewMessageId();
    const ssize_t written = write(pipe_ends[1], id.data(), id.size() * sizeof(char16_t));
    _exit(written == static_cast<ssize_t>(id.size() * sizeof(char16_t)) ? 0 : 1);
  }
  const std::u16string parentId = Wire::NewMessageId();
  std::u16string childId(36, u'\0');
  EXPECT_EQ(72, read(pipe_ends[0], &childId[0], 72));
  int status = 0;
  waitpid(child, &status, 0);
  close(pipe_ends[0]);
  close(pipe_ends[1]);
  EXPECT_NE(parentId, childId);
}

}  // namespace
}  // namespace Client
}  // namespace Corvane
