#include "engine/HailInterfaces.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <sstream>

namespace Corvane {
namespace Client {

namespace {

std::string Trim(const std::string& text) {
  const char* space = " \t\r\n";
  const auto first = text.find_first_not_of(space);
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(space) - first + 1);
}

bool IsUsable(const std::string& address) {
  std::uint32_t value = 0;
  return Platform::ParseIpv4(address, value) && value != 0 && !Platform::IsLoopbackAddress(address);
}

}  // namespace

HailInterfaces HailInterfaces::Parse(const std::string& value) {
  HailInterfaces result;
  const std::string trimmed = Trim(value);
  if (trimmed.empty()) return result;
  std::string lower = trimmed;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower == "all") {
    result.mode_ = Mode::kAll;
    return result;
  }
  result.mode_ = Mode::kListed;
  std::stringstream entries(trimmed);
  std::string entry;
  while (std::getline(entries, entry, ',')) {
    entry = Trim(entry);
    if (!entry.empty() &&
        std::find(result.listed_.begin(), result.listed_.end(), entry) == result.listed_.end()) {
      result.listed_.push_back(entry);
    }
  }
  if (result.listed_.empty()) result.mode_ = Mode::kSystem;
  return result;
}

std::string HailInterfaces::AnnouncedAddress(
    const std::vector<Platform::NetworkInterface>& interfaces, const std::string& hostAddress,
    const std::string& sourceAddress) {
  if (IsUsable(hostAddress)) return hostAddress;
  if (IsUsable(sourceAddress)) return sourceAddress;
  for (const auto& item : interfaces) {
    if (item.up && !item.loopback && IsUsable(item.address)) return item.address;
  }
  // Nothing but loopback on this machine: peers on it can still connect.
  if (!sourceAddress.empty()) return sourceAddress;
  if (!hostAddress.empty()) return hostAddress;
  return "0.0.0.0";
}

std::vector<HailTarget> HailInterfaces::Choose(
    const std::vector<Platform::NetworkInterface>& interfaces, const std::string& hostAddress,
    const std::string& group, unsigned short port, std::vector<std::string>& missing) const {
  std::vector<HailTarget> targets;
  const auto add = [&targets](const std::string& address) {
    const HailTarget target{address, address};
    if (std::find(targets.begin(), targets.end(), target) == targets.end()) {
      targets.push_back(target);
    }
  };
  switch (mode_) {
    case Mode::kSystem:
      targets.push_back(
          {"", AnnouncedAddress(interfaces, hostAddress, Platform::SourceAddressFor(group, port))});
      break;
    case Mode::kAll:
      for (const auto& item : interfaces) {
        if (item.up && item.multicast && !item.loopback) add(item.address);
      }
      // Loopback only when it is all there is (it need not say it carries
      // multicast to deliver it on this machine).
      if (targets.empty()) {
        for (const auto& item : interfaces) {
          if (item.up && item.loopback) add(item.address);
        }
      }
      break;
    case Mode::kListed:
      for (const auto& entry : listed_) {
        const auto match = std::find_if(
            interfaces.begin(), interfaces.end(), [&entry](const Platform::NetworkInterface& item) {
              return item.up && (item.name == entry || item.address == entry);
            });
        if (match == interfaces.end()) {
          missing.push_back(entry);
        } else {
          add(match->address);
        }
      }
      break;
  }
  return targets;
}

}  // namespace Client
}  // namespace Corvane
