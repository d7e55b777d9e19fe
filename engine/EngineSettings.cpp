#include "engine/EngineSettings.h"

#include <filesystem>
#include <regex>
#include <system_error>

#include "platform/EngineError.h"
#include "interface/Quellor.h"
#include "platform/TextConversion.h"

namespace Corvane {
namespace Client {

namespace {

constexpr std::size_t kMaxApplicationIdLength = Settings::kMaxApplicationIdLength;
constexpr std::size_t kMaxApplicationNameLength = Settings::kMaxApplicationNameLength;

void Require(bool condition, Errc code, const wchar_t* text) {
  if (!condition) throw EngineError(text, code);
}

std::string TrimAsciiSpace(const std::string& text) {
  const char* space = " \t\n\v\f\r";
  auto first = text.find_first_not_of(space);
  if (first == std::string::npos) return {};
  auto last = text.find_last_not_of(space);
  return text.substr(first, last - first + 1);
}

// A multicast group: four dotted decimal parts, the first 224 to 239.
std::wstring CheckedGroupAddress(const std::wstring& address) {
  static const std::regex kGroupPattern(
      "(22[4-9]|23[0-9])\\.(25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]|[0-9])\\."
      "(25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]|[0-9])\\.(25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]|[0-9])");
  const std::string trimmed = TrimAsciiSpace(Platform::ToUtf8(address));
  Require(std::regex_match(trimmed, kGroupPattern) && trimmed != "224.0.0.0", Errc::kInvalidGroupAddress,
          L"Group address is not valid");
  return Platform::FromUtf8(trimmed);
}

// The file directory must exist or be creatable (without its parents) and be
// a directory.
void CheckFileDirectory(const std::wstring& directory) {
  namespace fs = std::filesystem;
  const std::wstring invalid = L"The FileDirectory is not valid.  ";
  const fs::path path(Platform::ToUtf8(directory));
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (error && status.type() != fs::file_type::not_found) {
    throw EngineError(invalid + directory, Errc::kInvalidFileDirectory);
  }
  if (status.type() == fs::file_type::not_found) {
    fs::create_directory(path, error);
    if (error) {
      throw EngineError(invalid + directory + L" " + Platform::FromUtf8(error.message()),
                             Errc::kInvalidFileDirectory);
    }
  }
  if (!fs::is_directory(path, error)) {
    throw EngineError(invalid + directory, Errc::kInvalidFileDirectory);
  }
}

}  // namespace

std::string EngineSettings::DecimalGroupAddress(const std::wstring& groupAddress) {
  // Octets with leading zeros are decimal here, never octal as some address
  // parsers read them, and such parsers refuse them outright.
  std::string decimal;
  std::size_t start = 0;
  const std::string text = Platform::ToUtf8(groupAddress);
  while (start <= text.size()) {
    std::size_t end = text.find('.', start);
    if (end == std::string::npos) end = text.size();
    const std::string octet = text.substr(start, end - start);
    const std::size_t digit = octet.find_first_not_of('0');
    if (!decimal.empty()) decimal += '.';
    decimal += digit == std::string::npos ? "0" : octet.substr(digit);
    start = end + 1;
  }
  return decimal;
}

void EngineSettings::Apply(const std::wstring& applicationId, const std::wstring& applicationName,
                           const std::wstring& groupAddress, int groupPort, int serverPort,
                           int hailingInterval, bool usingHailingServer, int ackTimeout,
                           int healthCheckInterval, int filePort,
                           const std::wstring& fileDirectory) {
  // Widths count UTF-16 units, as the frames that carry these texts do.
  const std::wstring id = Platform::CutToUtf16Units(applicationId, kMaxApplicationIdLength);
  Require(!id.empty(), Errc::kMissingApplicationId, L"Application ID must be provided to start");
  ApplicationId = id;

  const std::wstring name = Platform::CutToUtf16Units(applicationName, kMaxApplicationNameLength);
  Require(!name.empty(), Errc::kMissingApplicationName, L"Application Name must be provided to start");
  ApplicationName = name;

  GroupAddress = CheckedGroupAddress(groupAddress);

  Require(Settings::kGroupPort.Accepts(groupPort), Errc::kInvalidGroupPort, L"Group port must be between 1 and 65535");
  GroupPort = groupPort;

  Require(Settings::kServerPort.Accepts(serverPort), Errc::kInvalidServerPort, L"Server port must be between 1 and 65535");
  ServerPort = serverPort;

  Require(Settings::kHailingInterval.Accepts(hailingInterval), Errc::kInvalidHailingInterval,
          L"Hailing interval must be greater than zero");
  HailingInterval = std::chrono::milliseconds(hailingInterval);

  UsingHailingServer = usingHailingServer;

  Require(Settings::kAckTimeout.Accepts(ackTimeout), Errc::kInvalidAckTimeout, L"Attempted to set ACK Timeout less than 1");
  AckTimeout = std::chrono::milliseconds(ackTimeout);

  Require(Settings::kHealthCheckInterval.Accepts(healthCheckInterval), Errc::kInvalidHealthCheckInterval,
          L"Attempted to set Health Check Interval less than 1");
  HealthCheckInterval = std::chrono::milliseconds(healthCheckInterval);

  Require(Settings::kFilePort.Accepts(filePort), Errc::kInvalidFilePort, L"File port must be between 1 and 65535");
  Require(filePort != ServerPort, Errc::kInvalidFilePort,
          L"The file port cannot be the same as the server port");
  FilePort = filePort;

  CheckFileDirectory(fileDirectory);
  FileDirectory = fileDirectory;
}

}  // namespace Client
}  // namespace Corvane
