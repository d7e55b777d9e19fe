#pragma once

namespace Corvane {
namespace Logging {

/// Ordered levels; a message is written when its level is at or above the
/// logger's threshold. Values outside 0-3 can occur and get an empty file tag.
enum class LogLevel : int { Debug = 0, Info = 1, Warning = 2, Error = 3 };

}  // namespace Logging
}  // namespace Corvane
