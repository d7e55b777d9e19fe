#include "control/RegistryFile.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace Corvane {
namespace Control {
namespace {

using Testing::ReadFile;
using Testing::TempDir;

std::string Value(const RegistryFile& registry, const std::string& key, const std::string& name) {
  std::string value;
  return registry.GetValue(key, name, value) ? value : "<missing>";
}

TEST(RegistryFilePathTest, RegistryVariableFirstThenConfigHomeThenHome) {
  EXPECT_EQ(RegistryFile::PathFor("/x/reg.ini", "/cfg", "/home/u"), "/x/reg.ini");
  EXPECT_EQ(RegistryFile::PathFor("", "/cfg", "/home/u"), "/cfg/corvane/registry.ini");
  EXPECT_EQ(RegistryFile::PathFor(nullptr, "/cfg", "/home/u"), "/cfg/corvane/registry.ini");
  EXPECT_EQ(RegistryFile::PathFor(nullptr, "", "/home/u"), "/home/u/.config/corvane/registry.ini");
  EXPECT_EQ(RegistryFile::PathFor(nullptr, nullptr, "/home/u"),
            "/home/u/.config/corvane/registry.ini");
  // A relative configuration directory is not a valid one.
  EXPECT_EQ(RegistryFile::PathFor(nullptr, "cfg", "/home/u"),
            "/home/u/.config/corvane/registry.ini");
}

TEST(RegistryFilePathTest, DefaultPathReadsTheEnvironmentEachTime) {
  const char* saved = getenv("CORVANE_REGISTRY");
  const std::string previous = saved ? saved : "";
  setenv("CORVANE_REGISTRY", "/tmp/a/registry.ini", 1);
  EXPECT_EQ(RegistryFile::DefaultPath(), "/tmp/a/registry.ini");
  setenv("CORVANE_REGISTRY", "", 1);
  EXPECT_NE(RegistryFile::DefaultPath(), "");
  EXPECT_NE(RegistryFile::DefaultPath(), "/tmp/a/registry.ini");
  if (saved) {
    setenv("CORVANE_REGISTRY", previous.c_str(), 1);
  } else {
    unsetenv("CORVANE_REGISTRY");
  }
}

class RegistryFileTest : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& name) const { return (scratch_ / name).string(); }

  TempDir scratch_;
};

TEST_F(RegistryFileTest, MissingFileReadsAsEmptyAndSaveCreatesItsDirectories) {
  const std::string path = PathOf("a/b/registry.ini");
  RegistryFile registry(path);
  std::string error;
  ASSERT_TRUE(registry.Load(error)) << error;
  EXPECT_TRUE(registry.GetKeys().empty());
  EXPECT_FALSE(std::filesystem::exists(path));
  ASSERT_TRUE(registry.SetValue("CLSID\\{X}", "ProgID", "A.B.1"));
  ASSERT_TRUE(registry.Save(error)) << error;
  EXPECT_TRUE(std::filesystem::is_regular_file(path));
}

TEST_F(RegistryFileTest, ValuesRoundTripThroughTheFile) {
  const std::string path = PathOf("registry.ini");
  {
    RegistryFile registry(path);
    std::string error;
    ASSERT_TRUE(registry.Load(error));
    ASSERT_TRUE(registry.SetValue("CLSID\\{X}", "InprocServer32", "/opt/m/CorvaneClient.so"));
    ASSERT_TRUE(registry.SetValue("CLSID\\{X}", "MiscStatus", 132497u));
    ASSERT_TRUE(registry.SetValue("ProgID\\A.B.1", "CLSID", "{X}"));
    ASSERT_TRUE(registry.SetValue("K", "Text", " lead\\ing\nsecond line; [x] = y "));
    ASSERT_TRUE(registry.SetValue("K", "Empty", ""));
    EXPECT_TRUE(registry.HasChanges());
    ASSERT_TRUE(registry.Save(error)) << error;
    EXPECT_FALSE(registry.HasChanges());
  }
  RegistryFile registry(path);
  std::string error;
  ASSERT_TRUE(registry.Load(error)) << error;
  EXPECT_FALSE(registry.HasChanges());
  EXPECT_EQ(registry.GetKeys(), (std::vector<std::string>{"CLSID\\{X}", "ProgID\\A.B.1", "K"}));
  EXPECT_EQ(registry.GetValueNames("CLSID\\{X}"),
            (std::vector<std::string>{"InprocServer32", "MiscStatus"}));
  EXPECT_EQ(Value(registry, "CLSID\\{X}", "InprocServer32"), "/opt/m/CorvaneClient.so");
  EXPECT_EQ(Value(registry, "CLSID\\{X}", "MiscStatus"), "132497");
  EXPECT_EQ(Value(registry, "ProgID\\A.B.1", "CLSID"), "{X}");
  EXPECT_EQ(Value(registry, "K", "Text"), " lead\\ing\nsecond line; [x] = y ");
  EXPECT_EQ(Value(registry, "K", "Empty"), "");
  EXPECT_EQ(Value(registry, "K", "Other"), "<missing>");
  EXPECT_EQ(Value(registry, "L", "Text"), "<missing>");
  EXPECT_TRUE(registry.GetValueNames("L").empty());
}

TEST_F(RegistryFileTest, NamesMatchWithoutRegardToCaseAndKeepTheirFirstSpelling) {
  RegistryFile registry(PathOf("registry.ini"));
  std::string error;
  ASSERT_TRUE(registry.Load(error));
  ASSERT_TRUE(registry.SetValue("ProgID\\CORVANECLIENT.Ctrl.1", "CLSID", "{a}"));
  ASSERT_TRUE(registry.SetValue("progid\\corvaneclient.ctrl.1", "clsid", "{b}"));
  EXPECT_EQ(registry.GetKeys(), std::vector<std::string>{"ProgID\\CORVANECLIENT.Ctrl.1"});
  EXPECT_EQ(registry.GetValueNames("PROGID\\CorvaneClient.Ctrl.1"),
            std::vector<std::string>{"CLSID"});
  EXPECT_EQ(Value(registry, "ProgId\\CorvaneClient.CTRL.1", "ClsId"), "{b}");
  EXPECT_TRUE(registry.HasKey("PROGID\\CORVANECLIENT.CTRL.1"));
}

TEST_F(RegistryFileTest, DeleteKeyTakesTheKeysBelowButNotSiblingsWithTheSamePrefix) {
  RegistryFile registry(PathOf("registry.ini"));
  std::string error;
  ASSERT_TRUE(registry.Load(error));
  for (const char* key : {"TypeLib\\{L}", "TypeLib\\{L}\\1.0", "TypeLib\\{L}\\2.0\\0",
                          "TypeLib\\{L}x", "TypeLib\\{M}"}) {
    ASSERT_TRUE(registry.SetValue(key, "V", "1")) << key;
  }
  std::string unused;
  ASSERT_TRUE(registry.Save(unused));
  registry.DeleteKey("Nothing\\Here");
  EXPECT_FALSE(registry.HasChanges());
  registry.DeleteKey("typelib\\{l}");
  EXPECT_TRUE(registry.HasChanges());
  EXPECT_EQ(registry.GetKeys(), (std::vector<std::string>{"TypeLib\\{L}x", "TypeLib\\{M}"}));
  registry.DeleteKey("TypeLib\\{L}");
  registry.DeleteKey("Nothing\\Here");
  registry.DeleteKey("");
  EXPECT_EQ(registry.GetKeys().size(), 2u);
}

TEST_F(RegistryFileTest, NamesAKeyFileCannotHoldAreRefused) {
  RegistryFile registry(PathOf("registry.ini"));
  std::string error;
  ASSERT_TRUE(registry.Load(error));
  EXPECT_FALSE(registry.SetValue("", "V", "x"));
  EXPECT_FALSE(registry.SetValue("A[1]", "V", "x"));
  EXPECT_FALSE(registry.SetValue("A\nB", "V", "x"));
  EXPECT_FALSE(registry.SetValue("A", "", "x"));
  EXPECT_FALSE(registry.SetValue("A", "V=W", "x"));
  EXPECT_FALSE(registry.SetValue("A", "V[de]", "x"));
  EXPECT_FALSE(registry.SetValue("A", "#V", "x"));
  EXPECT_FALSE(registry.SetValue("A", " V", "x"));
  EXPECT_FALSE(registry.SetValue("A", "V\t", "x"));
  EXPECT_FALSE(registry.SetValue("A", "V", "\xff"));
  EXPECT_FALSE(registry.SetValue("\xc3", "V", "x"));
  EXPECT_TRUE(registry.GetKeys().empty());
  // Anything else goes, including the characters of registry paths.
  EXPECT_TRUE(registry.SetValue("SYSTEM\\Application\\Über #1 = x", "Type Name.2", "x"));
}

TEST_F(RegistryFileTest, CommentsOfAnEditedFileSurviveASave) {
  const auto path = scratch_.WriteFile("registry.ini", "# kept\n[A]\n# also kept\nV=1\n");
  RegistryFile registry(path.string());
  std::string error;
  ASSERT_TRUE(registry.Load(error)) << error;
  ASSERT_TRUE(registry.SetValue("A", "W", "2"));
  ASSERT_TRUE(registry.Save(error)) << error;
  const std::string text = ReadFile(path);
  EXPECT_NE(text.find("# kept"), std::string::npos) << text;
  EXPECT_NE(text.find("# also kept"), std::string::npos) << text;
}

// A file that exists but cannot be read as a registry fails to load, and the
// object then refuses to write over it.
void ExpectUnreadableAndUntouched(const std::filesystem::path& path, const std::string& content) {
  RegistryFile registry(path.string());
  std::string error;
  EXPECT_FALSE(registry.Load(error));
  EXPECT_NE(error.find(path.string()), std::string::npos) << error;
  EXPECT_TRUE(registry.GetKeys().empty());
  EXPECT_TRUE(registry.SetValue("A", "V", "1"));
  std::string saveError;
  EXPECT_FALSE(registry.Save(saveError));
  EXPECT_FALSE(saveError.empty());
  if (std::filesystem::is_regular_file(path)) {
    EXPECT_EQ(ReadFile(path), content);
  }
}

TEST_F(RegistryFileTest, CorruptFileIsAnErrorAndIsNeverOverwritten) {
  const std::string notAKeyFile = "just text\nno groups\n";
  ExpectUnreadableAndUntouched(scratch_.WriteFile("a.ini", notAKeyFile), notAKeyFile);
  const std::string notUtf8 = "[A]\nV=\xff\xfe\n";
  ExpectUnreadableAndUntouched(scratch_.WriteFile("b.ini", notUtf8), notUtf8);
  const std::string withNul("[A]\nV=1\0x\n", 10);
  ExpectUnreadableAndUntouched(scratch_.WriteFile("d.ini", withNul), withNul);
  const std::string brokenGroup = "[A\nV=1\n";
  ExpectUnreadableAndUntouched(scratch_.WriteFile("c.ini", brokenGroup), brokenGroup);
}

TEST_F(RegistryFileTest, UnreadableFileIsAnErrorAndIsNeverOverwritten) {
  // A directory where the file should be cannot be read, whoever runs the test.
  const auto directory = scratch_ / "registry.ini";
  std::filesystem::create_directory(directory);
  scratch_.WriteFile("registry.ini/inside", "x");
  ExpectUnreadableAndUntouched(directory, "");
  EXPECT_TRUE(std::filesystem::is_directory(directory));
  EXPECT_EQ(ReadFile(directory / "inside"), "x");
  // A path through a regular file.
  scratch_.WriteFile("file", "content");
  ExpectUnreadableAndUntouched(scratch_ / "file" / "registry.ini", "");
  EXPECT_EQ(ReadFile(scratch_ / "file"), "content");
}

TEST_F(RegistryFileTest, SaveWithoutLoadIsRefused) {
  const auto path = scratch_.WriteFile("registry.ini", "[A]\nV=1\n");
  RegistryFile registry(path.string());
  std::string error;
  EXPECT_FALSE(registry.Save(error));
  EXPECT_EQ(ReadFile(path), "[A]\nV=1\n");
}

TEST_F(RegistryFileTest, SaveReportsADirectoryThatCannotBeMade) {
  const std::string path = PathOf("sub/registry.ini");
  RegistryFile registry(path);
  std::string error;
  ASSERT_TRUE(registry.Load(error));
  scratch_.WriteFile("sub", "in the way");
  ASSERT_TRUE(registry.SetValue("A", "V", "1"));
  EXPECT_FALSE(registry.Save(error));
  EXPECT_NE(error.find(path), std::string::npos) << error;
  EXPECT_EQ(ReadFile(scratch_ / "sub"), "in the way");
}

}  // namespace
}  // namespace Control
}  // namespace Corvane
