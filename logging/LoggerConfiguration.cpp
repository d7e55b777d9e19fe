#include "logging/LoggerConfiguration.h"

#include <mutex>
#include <utility>

#include "logging/LogLevelText.h"
#include "platform/ModuleDirectory.h"
#include "platform/TextConversion.h"

namespace Corvane {
namespace Logging {

namespace {

const wchar_t kSection[] = L"Log";

std::mutex& CurrentMutex() {
  static std::mutex mutex;
  return mutex;
}

std::shared_ptr<const LoggerConfiguration>& CurrentSlot() {
  static std::shared_ptr<const LoggerConfiguration> configuration;
  return configuration;
}

}  // namespace

LoggerConfiguration::LoggerConfiguration(std::wstring moduleDirectory, std::wstring iniPath)
    : module_directory_(std::move(moduleDirectory)),
      ini_path_(std::move(iniPath)),
      clock_(std::make_shared<const Platform::LocalClock>()) {
  if (ini_path_.empty()) ini_path_ = module_directory_ + L"/logger.ini";
  profile_ = std::make_shared<const Platform::ProfileFile>(Platform::ToUtf8(ini_path_));

  name_ = profile_->GetString(kSection, L"name", L"Corvane");
  use_event_log_ = profile_->GetString(kSection, L"type", L"EVENT") != L"FILE";

  std::wstring path = profile_->GetString(kSection, L"path", L"");
  if (path.empty()) path = module_directory_;
  log_file_path_ = path + L"/" + name_ + L".log";

  const std::wstring files = profile_->GetString(kSection, L"messageFiles", L"");
  std::size_t start = 0;
  while (start <= files.size()) {
    std::size_t end = files.find(L';', start);
    if (end == std::wstring::npos) end = files.size();
    std::wstring piece = files.substr(start, end - start);
    start = end + 1;
    if (piece.empty()) continue;
    if (!message_files_.empty()) message_files_ += L";";
    if (piece.find_first_of(L"\\/") == std::wstring::npos) piece = module_directory_ + L"/" + piece;
    message_files_ += piece;
  }

  default_message_id_ =
      static_cast<std::uint32_t>(profile_->GetInt(kSection, L"defaultMessageId", 0));
}

LogLevel LoggerConfiguration::ThresholdOf(const std::wstring& loggerName) const {
  auto reading = profile_->Snapshot();
  std::lock_guard<std::mutex> lock(thresholds_mutex_);
  if (reading != thresholds_reading_) {
    thresholds_.clear();
    thresholds_reading_ = std::move(reading);
  }
  const auto known = thresholds_.find(loggerName);
  if (known != thresholds_.end()) return known->second;
  const LogLevel threshold = LogLevelOfWord(profile_->GetString(
      *thresholds_reading_, kSection, loggerName, L"defaultLogLevel", L"ERROR"));
  thresholds_.emplace(loggerName, threshold);
  return threshold;
}

void LoggerConfiguration::SetClock(std::shared_ptr<const Platform::LocalClock> clock) {
  clock_ = clock ? std::move(clock) : std::make_shared<const Platform::LocalClock>();
}

std::shared_ptr<const LoggerConfiguration> LoggerConfiguration::Current() {
  std::lock_guard<std::mutex> lock(CurrentMutex());
  auto& current = CurrentSlot();
  if (!current) current = std::make_shared<const LoggerConfiguration>(Platform::EngineModuleDirectory());
  return current;
}

std::shared_ptr<const LoggerConfiguration> LoggerConfiguration::Install(
    std::shared_ptr<const LoggerConfiguration> configuration) {
  std::lock_guard<std::mutex> lock(CurrentMutex());
  auto previous = std::move(CurrentSlot());
  CurrentSlot() = std::move(configuration);
  return previous;
}

}  // namespace Logging
}  // namespace Corvane
