#include "platform/UserDirectories.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/ProfileFile.h"
#include "platform/TextConversion.h"

namespace Corvane {
namespace Platform {

namespace {

namespace fs = std::filesystem;

// Whether `path` serves: false only when this user may not write there (or
// create it in its parent), or when it is taken by something other than a
// directory. Other failures (a missing or looping module directory) keep the
// place beside the module, where they are reported as before.
bool Usable(const std::string& path) {
  const auto denied = [](const std::string& where) {
    return access(where.c_str(), W_OK | X_OK) != 0 &&
           (errno == EACCES || errno == EPERM || errno == EROFS);
  };
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (status.type() == fs::file_type::directory) return !denied(path);
  if (status.type() != fs::file_type::not_found) return error.value() != 0;
  return !denied(fs::path(path).parent_path().string());
}

// $variable, else $HOME/fallback, else the password entry's home/fallback;
// empty when there is no home at all. A relative value is ignored, as the
// XDG rules for these variables say.
std::string BaseDirectory(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  if (value != nullptr && value[0] == '/') return value;
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') {
    const passwd* entry = getpwuid(getuid());
    home = entry != nullptr ? entry->pw_dir : nullptr;
  }
  if (home == nullptr || home[0] != '/') return {};
  return std::string(home) + "/" + fallback;
}

// `module`/`name` where usable, else `base`/corvane/`name` with its parent
// created; `module`/`name` when there is no per-user base either.
std::string Choose(const std::string& module, const std::string& name, const char* variable,
                   const char* fallback) {
  const std::string beside = module + "/" + name;
  if (Usable(beside)) return beside;
  const std::string base = BaseDirectory(variable, fallback);
  if (base.empty()) return beside;
  std::error_code error;
  fs::create_directories(base + "/corvane", error);
  return base + "/corvane/" + name;
}

}  // namespace

std::string ChooseTempDirectory(const std::wstring& moduleDirectory) {
  const std::string module = ToUtf8(moduleDirectory);
  const ProfileFile settings(module + "/engine.ini");
  const std::string configured =
      ToUtf8(settings.GetString(L"Paths", L"TempDirectory", L""));
  if (!configured.empty()) {
    const fs::path base = fs::path(module) / configured;  // relative: to the module
    return (base.lexically_normal() / "corvane-temp").string();
  }
  return Choose(module, "temp", "XDG_CACHE_HOME", ".cache");
}

std::wstring DefaultFileDirectory(const std::wstring& moduleDirectory) {
  return FromUtf8(
      Choose(ToUtf8(moduleDirectory), "files", "XDG_DATA_HOME", ".local/share"));
}

}  // namespace Platform
}  // namespace Corvane
