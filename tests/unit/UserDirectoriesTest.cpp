#include "platform/UserDirectories.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "support/TempDir.h"

namespace Corvane {
namespace Platform {
namespace {

namespace fs = std::filesystem;
using Testing::TempDir;

// Sets an environment variable for the test's duration.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// A module directory where temp/ and files/ cannot be made: both names are
// taken by plain files (as unusable to root as to anyone, unlike permissions).
struct BlockedModule {
  TempDir dir;
  BlockedModule() {
    dir.WriteFile("temp", "");
    dir.WriteFile("files", "");
  }
};

TEST(UserDirectories, BesideTheModuleWhereItIsWritable) {
  TempDir module;
  EXPECT_EQ(ChooseTempDirectory(module.WidePath()), (module / "temp").string());
  EXPECT_EQ(DefaultFileDirectory(module.WidePath()), (module / "files").wstring());
  // Existing writable directories are kept as well.
  fs::create_directory(module / "files");
  EXPECT_EQ(DefaultFileDirectory(module.WidePath()), (module / "files").wstring());
}

TEST(UserDirectories, PerUserDirectoriesWhereTheModuleIsNot) {
  BlockedModule module;
  TempDir home;
  ScopedEnv cache("XDG_CACHE_HOME", (home / "cache").c_str());
  ScopedEnv data("XDG_DATA_HOME", (home / "data").c_str());
  EXPECT_EQ(ChooseTempDirectory(module.dir.WidePath()), (home / "cache/corvane/temp").string());
  EXPECT_EQ(DefaultFileDirectory(module.dir.WidePath()),
            (home / "data/corvane/files").wstring());
  // The parent exists, so the engine can create the file directory itself
  // (it creates no parents).
  EXPECT_TRUE(fs::is_directory(home / "data/corvane"));
}

TEST(UserDirectories, HomeWhenTheBaseVariablesAreUnsetOrRelative) {
  BlockedModule module;
  TempDir home;
  ScopedEnv homeVariable("HOME", home.Path().c_str());
  ScopedEnv cache("XDG_CACHE_HOME", nullptr);
  ScopedEnv data("XDG_DATA_HOME", "relative/data");
  EXPECT_EQ(ChooseTempDirectory(module.dir.WidePath()), (home / ".cache/corvane/temp").string());
  EXPECT_EQ(DefaultFileDirectory(module.dir.WidePath()),
            (home / ".local/share/corvane/files").wstring());
}

TEST(UserDirectories, EngineIniNamesTheTemporaryDirectorysParent) {
  TempDir module;
  TempDir elsewhere;
  module.WriteFile("engine.ini", "[Paths]\nTempDirectory=" + elsewhere.Path().string() + "\n");
  // The engine empties its temporary directory: never the one named.
  EXPECT_EQ(ChooseTempDirectory(module.WidePath()), (elsewhere / "corvane-temp").string());
  module.WriteFile("engine.ini", "[Paths]\nTempDirectory=spool/\n");
  EXPECT_EQ(ChooseTempDirectory(module.WidePath()), (module / "spool/corvane-temp").string());
}

}  // namespace
}  // namespace Platform
}  // namespace Corvane
