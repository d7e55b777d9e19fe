#include "platform/ModuleDirectory.h"

#include <dlfcn.h>
#include <link.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>

#include "platform/TextConversion.h"

namespace Corvane {
namespace Platform {

namespace {

// The file of the running executable; the loader records no name for it.
std::string ExecutablePath() {
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return std::string();
  return std::string(buffer, static_cast<std::size_t>(length));
}

std::string AbsolutePath(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  std::unique_ptr<char, decltype(&::free)> resolved(::realpath(path.c_str(), nullptr), &::free);
  return resolved ? std::string(resolved.get()) : path;
}

}  // namespace

std::wstring ModuleDirectoryOf(const void* address) {
  if (!address) return L".";
  Dl_info info{};
  link_map* map = nullptr;
  if (::dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) {
    return L".";
  }
  // The main program's link map has an empty name (dli_fname then holds
  // argv[0], which may be relative to a directory long left).
  std::string file;
  if (map && map->l_name && map->l_name[0] != '\0') {
    file = map->l_name;
  } else if (map) {
    file = ExecutablePath();
  } else if (info.dli_fname) {
    file = info.dli_fname;
  }
  file = AbsolutePath(file);
  const std::size_t slash = file.rfind('/');
  if (slash == std::string::npos) return L".";
  if (slash == 0) return L"/";
  return FromUtf8(file.substr(0, slash));
}

std::wstring EngineModuleDirectory() {
  return ModuleDirectoryOf(reinterpret_cast<const void*>(&EngineModuleDirectory));
}

}  // namespace Platform
}  // namespace Corvane
