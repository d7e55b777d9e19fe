#include "connection/AccessPolicy.h"

#include <algorithm>

#include "platform/NetworkInterfaces.h"
#include "platform/TextConversion.h"

namespace Corvane {
namespace Client {

namespace {

template <typename Text>
Text Trim(const Text& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && (text[first] == ' ' || text[first] == '\t')) ++first;
  while (last > first && (text[last - 1] == ' ' || text[last - 1] == '\t' ||
                          text[last - 1] == '\r' || text[last - 1] == '\n')) {
    --last;
  }
  return text.substr(first, last - first);
}

template <typename Text>
std::vector<Text> SplitList(const Text& list) {
  std::vector<Text> entries;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t comma = list.find(',', start);
    if (comma == Text::npos) comma = list.size();
    Text entry = Trim(list.substr(start, comma - start));
    if (!entry.empty()) entries.push_back(std::move(entry));
    start = comma + 1;
  }
  return entries;
}

bool AllDigits(const std::string& text) {
  return !text.empty() && text.size() <= 2 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool AccessPolicy::Parse(const std::string& networks, const std::wstring& ids,
                         AccessPolicy& policy, std::wstring& error) {
  AccessPolicy parsed;
  for (const std::string& entry : SplitList(networks)) {
    const std::size_t slash = entry.find('/');
    const std::string address = entry.substr(0, slash);
    const std::string prefix = slash == std::string::npos ? "32" : entry.substr(slash + 1);
    std::uint32_t value = 0;
    if (!Platform::ParseIpv4(address, value) || !AllDigits(prefix) || std::stoi(prefix) > 32) {
      error = L"AllowedNetworks: \"" + Platform::FromUtf8(entry) +
              L"\" is not an IPv4 network such as 192.168.10.0/24";
      return false;
    }
    const int bits = std::stoi(prefix);
    const std::uint32_t mask = bits == 0 ? 0 : ~std::uint32_t{0} << (32 - bits);
    parsed.networks_.push_back({value & mask, mask});
  }
  parsed.ids_ = SplitList(ids);
  policy = std::move(parsed);
  return true;
}

bool AccessPolicy::AllowsAddress(const std::string& address) const {
  if (networks_.empty()) return true;
  std::uint32_t value = 0;
  if (!Platform::ParseIpv4(address, value)) return false;
  return std::any_of(networks_.begin(), networks_.end(), [value](const Network& network) {
    return (value & network.mask) == network.address;
  });
}

bool AccessPolicy::AllowsApplication(const std::wstring& applicationId) const {
  return ids_.empty() || std::find(ids_.begin(), ids_.end(), applicationId) != ids_.end();
}

}  // namespace Client
}  // namespace Corvane
