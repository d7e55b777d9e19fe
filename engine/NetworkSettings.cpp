#include "engine/NetworkSettings.h"

#include "platform/NetworkInterfaces.h"
#include "platform/ProfileFile.h"
#include "platform/TextConversion.h"

namespace Corvane {
namespace Client {

namespace {

std::vector<std::string> SplitAddresses(const std::string& list) {
  std::vector<std::string> entries;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    std::string entry = list.substr(start, comma - start);
    const auto first = entry.find_first_not_of(" \t\r\n");
    if (first != std::string::npos) {
      entry = entry.substr(first, entry.find_last_not_of(" \t\r\n") - first + 1);
      entries.push_back(entry);
    }
    start = comma + 1;
  }
  return entries;
}

}  // namespace

bool NetworkSettings::Read(const std::wstring& moduleDirectory, NetworkSettings& settings,
                           std::wstring& error) {
  const Platform::ProfileFile file(Platform::ToUtf8(moduleDirectory) + "/engine.ini");
  NetworkSettings read;
  read.hailInterfaces =
      HailInterfaces::Parse(Platform::ToUtf8(file.GetString(L"Network", L"HailInterfaces", L"")));
  for (const std::string& address :
       SplitAddresses(Platform::ToUtf8(file.GetString(L"Network", L"ListenAddresses", L"")))) {
    std::uint32_t value = 0;
    if (!Platform::ParseIpv4(address, value)) {
      error = L"ListenAddresses: \"" + Platform::FromUtf8(address) + L"\" is not an IPv4 address";
      return false;
    }
    read.listenAddresses.push_back(address);
  }
  auto access = std::make_shared<AccessPolicy>();
  if (!AccessPolicy::Parse(
          Platform::ToUtf8(file.GetString(L"Access", L"AllowedNetworks", L"")),
          file.GetString(L"Access", L"AllowedApplicationIds", L""), *access, error)) {
    return false;
  }
  read.access = std::move(access);
  settings = std::move(read);
  return true;
}

}  // namespace Client
}  // namespace Corvane
