#include "platform/ErrorCode.h"

namespace Corvane {
namespace Platform {

namespace {

struct CodeText {
  Errc code;
  const char* text;
};

// One line a code: adding a code to the enumeration without a line here
// leaves it "unknown engine error", which the tests catch.
constexpr CodeText kTexts[] = {
    {Errc::kConnectionFailed, "connection could not be started"},
    {Errc::kInvalidMessageType, "invalid message type"},
    {Errc::kUnknownProtocol, "unknown message protocol"},
    {Errc::kUnsupportedVersion, "unsupported protocol version"},
    {Errc::kServiceThreadFailed, "service thread failed"},
    {Errc::kNotAcknowledged, "message not acknowledged"},
    {Errc::kNoApplications, "no applications connected"},
    {Errc::kSendFailed, "message could not be sent"},
    {Errc::kParse, "invalid message body"},
    {Errc::kSocketReadError, "socket read error"},
    {Errc::kMissingApplicationId, "application id missing"},
    {Errc::kMissingApplicationName, "application name missing"},
    {Errc::kInvalidAckTimeout, "invalid acknowledgement timeout"},
    {Errc::kInvalidHealthCheckInterval, "invalid health check interval"},
    {Errc::kInvalidGroupPort, "invalid group port"},
    {Errc::kInvalidServerPort, "invalid server port"},
    {Errc::kInvalidHailingInterval, "invalid hailing interval"},
    {Errc::kInvalidGroupAddress, "invalid group address"},
    {Errc::kInvalidFilePort, "invalid file port"},
    {Errc::kInvalidFileDirectory, "invalid file directory"},
    {Errc::kCalledOnEngineThread, "called on an engine thread"},
    {Errc::kNoModuleDirectory, "engine library directory unknown"},
    {Errc::kInternalError, "internal error"},
    {Errc::kInvalidXml, "invalid XML"},
    {Errc::kNotImplemented, "not implemented"},
};

class EngineCategoryImpl : public std::error_category {
 public:
  const char* name() const noexcept override { return "corvane"; }
  std::string message(int value) const override {
    for (const CodeText& entry : kTexts) {
      if (ToInt(entry.code) == value) return entry.text;
    }
    return "unknown engine error";
  }
};

}  // namespace

const std::error_category& EngineCategory() noexcept {
  static const EngineCategoryImpl category;
  return category;
}

std::error_code make_error_code(Errc code) noexcept {
  return std::error_code(ToInt(code), EngineCategory());
}

bool FromInt(int value, Errc& code) noexcept {
  for (const CodeText& entry : kTexts) {
    if (ToInt(entry.code) == value) {
      code = entry.code;
      return true;
    }
  }
  return false;
}

}  // namespace Platform
}  // namespace Corvane
