#include "platform/ModuleDirectory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/TextConversion.h"

namespace Corvane {
namespace Platform {
namespace {

int FunctionInThisProgram() { return 1; }

std::wstring ExecutableDirectory() {
  return FromUtf8(std::filesystem::read_symlink("/proc/self/exe").parent_path().string());
}

TEST(ModuleDirectoryTest, DirectoryOfTheModuleHoldingTheAddress) {
  EXPECT_EQ(ModuleDirectoryOf(reinterpret_cast<const void*>(&FunctionInThisProgram)), ExecutableDirectory());
  // The engine code is linked into this test program.
  EXPECT_EQ(EngineModuleDirectory(), ExecutableDirectory());

  // A shared library answers with its own directory, not the program's.
  const std::wstring libc = ModuleDirectoryOf(reinterpret_cast<const void*>(&std::strlen));
  EXPECT_NE(libc, ExecutableDirectory());
  ASSERT_FALSE(libc.empty());
  EXPECT_EQ(libc.front(), L'/');
}

TEST(ModuleDirectoryTest, DotWhenNoModuleHoldsTheAddress) {
  EXPECT_EQ(ModuleDirectoryOf(nullptr), L".");
  EXPECT_EQ(ModuleDirectoryOf(reinterpret_cast<const void*>(std::uintptr_t{16})), L".");
}

}  // namespace
}  // namespace Platform
}  // namespace Corvane
