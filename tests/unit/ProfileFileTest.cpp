#include "platform/ProfileFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/LoggingTestSupport.h"

namespace Corvane {
namespace Platform {
namespace {

class ProfileFileTest : public ::testing::Test {
 protected:
  ProfileFile& Open(const std::string& content) {
    file_ = std::make_unique<ProfileFile>(scratch_.WriteFile("test.ini", content).string());
    return *file_;
  }

  Testing::TempDir scratch_;
  std::unique_ptr<ProfileFile> file_;
};

TEST_F(ProfileFileTest, MatchesSectionAndKeyWithoutCase) {
  auto& ini = Open("[Log]\nType=FILE\n[other]\ntype=x\n");
  EXPECT_EQ(ini.GetString(L"LOG", L"type", L"d"), L"FILE");
  EXPECT_EQ(ini.GetString(L"log", L"TYPE", L"d"), L"FILE");
  EXPECT_EQ(ini.GetString(L"OTHER", L"Type", L"d"), L"x");
}

TEST_F(ProfileFileTest, AFallbackKeyStandsInOnlyForAMissingKey) {
  auto& ini = Open("[Log]\nown=DEBUG\nempty=\nfallback=WARN\n");
  EXPECT_EQ(ini.GetString(L"Log", L"own", L"fallback", L"d"), L"DEBUG");
  EXPECT_EQ(ini.GetString(L"Log", L"empty", L"fallback", L"d"), L"");
  EXPECT_EQ(ini.GetString(L"Log", L"missing", L"fallback", L"d"), L"WARN");
  EXPECT_EQ(ini.GetString(L"Log", L"missing", L"absent", L"d"), L"d");
  EXPECT_EQ(ini.GetString(L"None", L"own", L"fallback", L"d"), L"d");
}

TEST_F(ProfileFileTest, ValuesAreExactAfterTrimmingAndUnquoting) {
  auto& ini = Open(
      "[Log]\n"
      "  spaced   =   Mixed Case Value  \n"
      "quoted=\"  kept inside  \"\n"
      "single='x'\n"
      "half=\"open\n"
      "inner=a\"b\"\n"
      "equals=a=b\n"
      "empty=\n");
  EXPECT_EQ(ini.GetString(L"Log", L"spaced", L"d"), L"Mixed Case Value");
  EXPECT_EQ(ini.GetString(L"Log", L"quoted", L"d"), L"  kept inside  ");
  EXPECT_EQ(ini.GetString(L"Log", L"single", L"d"), L"x");
  EXPECT_EQ(ini.GetString(L"Log", L"half", L"d"), L"\"open");
  EXPECT_EQ(ini.GetString(L"Log", L"inner", L"d"), L"a\"b\"");
  EXPECT_EQ(ini.GetString(L"Log", L"equals", L"d"), L"a=b");
  EXPECT_EQ(ini.GetString(L"Log", L"empty", L"d"), L"");
}

TEST_F(ProfileFileTest, CutsValuesAndDefaultsTo259Characters) {
  auto& ini = Open("[Log]\nlong=" + std::string(300, 'v') + "\nfits=" + std::string(259, 'f') + "\n");
  EXPECT_EQ(ini.GetString(L"Log", L"long", L""), std::wstring(259, L'v'));
  EXPECT_EQ(ini.GetString(L"Log", L"fits", L""), std::wstring(259, L'f'));
  EXPECT_EQ(ini.GetString(L"Log", L"missing", std::wstring(300, L'd')), std::wstring(259, L'd'));
}

TEST_F(ProfileFileTest, DefaultsWhenFileSectionOrKeyIsMissing) {
  ProfileFile missing((scratch_ / "none.ini").string());
  EXPECT_EQ(missing.GetString(L"Log", L"type", L"EVENT"), L"EVENT");
  EXPECT_EQ(missing.GetInt(L"Log", L"id", 17), 17);

  auto& ini = Open("[Log]\ntype=FILE\n");
  EXPECT_EQ(ini.GetString(L"Other", L"type", L"EVENT"), L"EVENT");
  EXPECT_EQ(ini.GetString(L"Log", L"name", L"Corvane"), L"Corvane");
  EXPECT_EQ(ini.GetString(L"Log", L"", L"none"), L"none");
}

TEST_F(ProfileFileTest, SkipsCommentsStrayLinesAndLaterDuplicates) {
  auto& ini = Open(
      "\xEF\xBB\xBF"
      "outside=1\r\n"
      "[Log]\r\n"
      "; type=EVENT\r\n"
      "  ;name=commented\r\n"
      "no equals sign\r\n"
      "type=FILE\r\n"
      "TYPE=second\r\n"
      "name=K\xC3\xB6ln\r\n"
      "[log]\r\n"
      "path=/later\r\n");
  EXPECT_EQ(ini.GetString(L"Log", L"type", L"d"), L"FILE");
  EXPECT_EQ(ini.GetString(L"Log", L"name", L"d"), L"K\u00F6ln");
  EXPECT_EQ(ini.GetString(L"Log", L"path", L"d"), L"d");
  EXPECT_EQ(ini.GetString(L"", L"outside", L"d"), L"d");
}

TEST_F(ProfileFileTest, ReadsIntegersFromLeadingDigits) {
  auto& ini = Open(
      "[Log]\n"
      "plain=42\ntrailing=42abc\nletters=abc\nempty=\nnegative=-7\nplus=+8\n"
      "quoted=\"12\"\nhex=0x10\nwraps=4294967297\n");
  EXPECT_EQ(ini.GetInt(L"Log", L"plain", 5), 42);
  EXPECT_EQ(ini.GetInt(L"Log", L"trailing", 5), 42);
  EXPECT_EQ(ini.GetInt(L"Log", L"letters", 5), 0);
  EXPECT_EQ(ini.GetInt(L"Log", L"empty", 5), 5);
  EXPECT_EQ(ini.GetInt(L"Log", L"missing", 5), 5);
  EXPECT_EQ(ini.GetInt(L"Log", L"negative", 5), -7);
  EXPECT_EQ(ini.GetInt(L"Log", L"plus", 5), 8);
  EXPECT_EQ(ini.GetInt(L"Log", L"quoted", 5), 12);
  EXPECT_EQ(ini.GetInt(L"Log", L"hex", 5), 0);
  EXPECT_EQ(ini.GetInt(L"Log", L"wraps", 5), 1);
}

TEST_F(ProfileFileTest, SeesTheFileChangeAppearAndDisappear) {
  ProfileFile ini((scratch_ / "test.ini").string());
  EXPECT_EQ(ini.GetString(L"Log", L"level", L"none"), L"none");

  scratch_.WriteFile("test.ini", "[Log]\nlevel=INFO\n");
  EXPECT_EQ(ini.GetString(L"Log", L"level", L"none"), L"INFO");

  // A different size is seen at once.
  scratch_.WriteFile("test.ini", "[Log]\nlevel=DEBUG\n");
  EXPECT_EQ(ini.GetString(L"Log", L"level", L"none"), L"DEBUG");

  // Same size: the modification time tells.
  const auto file = scratch_ / "test.ini";
  const auto stamp = std::filesystem::last_write_time(file);
  scratch_.WriteFile("test.ini", "[Log]\nlevel=WARNS\n");
  std::filesystem::last_write_time(file, stamp + std::chrono::seconds(2));
  EXPECT_EQ(ini.GetString(L"Log", L"level", L"none"), L"WARNS");

  std::filesystem::remove(file);
  EXPECT_EQ(ini.GetString(L"Log", L"level", L"none"), L"none");
}

TEST_F(ProfileFileTest, SeesAnEditThatLeavesTheFileTimesAndSizeAsTheyWere) {
  auto& ini = Open("[Log]\nlevel=INFO\n");
  const auto file = scratch_ / "test.ini";
  const auto stamp = std::filesystem::last_write_time(file);
  EXPECT_EQ(ini.GetString(L"Log", L"level", L"none"), L"INFO");
  // Two edits within one tick of the file clock look like this.
  scratch_.WriteFile("test.ini", "[Log]\nlevel=WARN\n");
  std::filesystem::last_write_time(file, stamp);
  EXPECT_EQ(ini.GetString(L"Log", L"level", L"none"), L"WARN");
}

TEST_F(ProfileFileTest, ReadersOnManyThreadsSeeEveryEditOnceItIsWritten) {
  auto& ini = Open("[Log]\nlevel=0\n");
  constexpr int kEdits = 50;
  std::atomic<int> written{0};
  std::atomic<bool> stale{false};
  std::vector<std::thread> readers;
  for (int i = 0; i < 4; ++i) {
    readers.emplace_back([&] {
      // Bounded: a missed last edit would otherwise keep the reader here.
      const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      for (int seen = 0; seen < kEdits;) {
        if (std::chrono::steady_clock::now() > end) {
          stale = true;
          return;
        }
        const int before = written.load();
        seen = ini.GetInt(L"Log", L"level", -1);
        // What was written before the look is what the look sees, or newer.
        if (seen < before) stale = true;
      }
    });
  }
  // Each edit replaces the file whole, as editors save: a reader never meets
  // one half written.
  for (int edit = 1; edit <= kEdits; ++edit) {
    scratch_.WriteFile("test.ini.new", "[Log]\nlevel=" + std::to_string(edit) + "\n");
    std::filesystem::rename(scratch_ / "test.ini.new", scratch_ / "test.ini");
    written = edit;
  }
  for (auto& reader : readers) reader.join();
  EXPECT_FALSE(stale);
}

}  // namespace
}  // namespace Platform
}  // namespace Corvane
