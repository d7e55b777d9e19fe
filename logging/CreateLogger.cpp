#include <memory>

#include "logging/EventLogger.h"
#include "logging/FileLogger.h"
#include "logging/Logger.h"
#include "logging/LoggerConfiguration.h"

namespace Corvane {
namespace Logging {

std::shared_ptr<Logger> CreateLogger(const std::wstring& name) {
  const auto configuration = LoggerConfiguration::Current();
  const LogLevel threshold = configuration->ThresholdOf(name);
  if (configuration->UseEventLog()) {
    return std::make_shared<EventLogger>(name, threshold, configuration);
  }
  return std::make_shared<FileLogger>(name, threshold, configuration);
}

}  // namespace Logging
}  // namespace Corvane
