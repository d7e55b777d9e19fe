#include "engine/EngineLimits.h"

#include "platform/ProfileFile.h"
#include "platform/TextConversion.h"

namespace Corvane {
namespace Client {

namespace {

// The key's value when it is a number of at least 1, else `fallback`.
int Positive(const Platform::ProfileFile& file, const wchar_t* key, int fallback) {
  const int value = file.GetInt(L"Limits", key, fallback);
  return value >= 1 ? value : fallback;
}

}  // namespace

EngineLimits EngineLimits::Read(const std::wstring& moduleDirectory) {
  const Platform::ProfileFile file(Platform::ToUtf8(moduleDirectory) + "/engine.ini");
  EngineLimits limits;
  limits.maxConnections = Positive(file, L"MaxConnections", limits.maxConnections);
  limits.maxConnectionsPerAddress =
      Positive(file, L"MaxConnectionsPerAddress", limits.maxConnectionsPerAddress);
  limits.fileIdleTimeout = std::chrono::milliseconds(
      Positive(file, L"FileIdleTimeout", static_cast<int>(limits.fileIdleTimeout.count())));
  limits.maxQueuedBytes = static_cast<std::size_t>(Positive(
                              file, L"MaxQueuedKiB", static_cast<int>(limits.maxQueuedBytes / 1024))) *
                          1024;
  limits.minFreeBytes =
      static_cast<std::uint64_t>(Positive(file, L"MinFreeSpaceMiB",
                                          static_cast<int>(limits.minFreeBytes >> 20)))
      << 20;
  limits.maxBodyBytes =
      static_cast<std::uint64_t>(Positive(file, L"MaxBodyMemoryMiB",
                                          static_cast<int>(limits.maxBodyBytes >> 20)))
      << 20;
  return limits;
}

}  // namespace Client
}  // namespace Corvane
