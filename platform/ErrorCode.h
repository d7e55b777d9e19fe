#pragma once
// Every failure code the engine reports, in one enumeration with its own
// std::error_category. The numbers are the ones a host sees, through a
// QuellorException thrown out of an operation or through OnError; each code's
// category message says in general what went wrong (the text that travels
// with a failure is the raising site's own).

#include <string>
#include <system_error>

namespace Corvane {
namespace Platform {

enum class Errc : int {
  kConnectionFailed = -100,        // accepted connection not started or registered
  kInvalidMessageType = -103,      // header names an unknown message type
  kUnknownProtocol = -104,         // header's protocol id is not the engine's
  kUnsupportedVersion = -105,      // header's version is not the type's
  kServiceThreadFailed = -107,     // the service thread failed
  kNotAcknowledged = -109,         // XML data sent but not acknowledged in time
  kNoApplications = -110,          // SendData with no application connected
  kSendFailed = -111,              // the XML data could not be written
  kParse = -112,                   // a body field is invalid
  kSocketReadError = -113,         // read error on a connection's socket
  kMissingApplicationId = -114,
  kMissingApplicationName = -115,
  kInvalidAckTimeout = -116,
  kInvalidHealthCheckInterval = -117,
  kInvalidGroupPort = -119,
  kInvalidServerPort = -120,
  kInvalidHailingInterval = -121,
  kInvalidGroupAddress = -122,
  kInvalidFilePort = -125,
  kInvalidFileDirectory = -126,
  kCalledOnEngineThread = -130,    // SendData from inside a listener callback
  kNoModuleDirectory = -131,       // the engine library's directory is unknown
  kInternalError = -132,           // anything else thrown inside the engine
  kInvalidXml = -200,              // the XML text failed validation
  kNotImplemented = -999,          // an operation the type does not support
};

/// The category of every Errc; its name is "corvane".
const std::error_category& EngineCategory() noexcept;

/// Found by argument-dependent lookup: an Errc converts to std::error_code.
std::error_code make_error_code(Errc code) noexcept;

/// The number a host sees.
constexpr int ToInt(Errc code) noexcept { return static_cast<int>(code); }

/// The Errc of `value` when it is one of the engine's codes.
bool FromInt(int value, Errc& code) noexcept;

}  // namespace Platform

namespace Client {
using Platform::Errc;
}  // namespace Client
}  // namespace Corvane

namespace std {
template <>
struct is_error_code_enum<Corvane::Platform::Errc> : true_type {};
}  // namespace std
