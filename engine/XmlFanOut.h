#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "interface/QuellorObserver.h"

namespace Corvane {
namespace Logging {
class Logger;
}
namespace Client {

class Connection;
class ConnectionRegistry;
class XmlValidator;

/// Sends one XML document to every registered application at once and
/// collects each application's outcome: the fan-out behind SendData.
///
/// Fan-outs take turns (one at a time); the registry's lists are only
/// copied, never locked across a send, so registrations and removals on the
/// service thread go on while a fan-out waits. Called on host threads only.
class XmlFanOut {
 public:
  XmlFanOut(ConnectionRegistry& connections, std::shared_ptr<XmlValidator> validator);
  XmlFanOut(const XmlFanOut&) = delete;
  XmlFanOut& operator=(const XmlFanOut&) = delete;

  /// Sends `xml` to every application; returns once every one has answered
  /// or failed. Succeeds when at least one application has it; throws
  /// EngineError otherwise (no applications -110, invalid XML -200, nobody
  /// got it -111) or when called inside a listener callback (-130).
  void SendData(const std::wstring& xml);
  /// Sends `xml` as SendData does and returns each application's outcome
  /// (status 0 when it has the document). Invalid XML goes to nobody: each
  /// application's outcome is -200 with the validity errors. Throws only
  /// when no send can be made at all (-110, -130), or for a failure that is
  /// not the document's (-111 without descriptors to read the grammar).
  std::vector<SendOutcome> SendDataEach(const std::wstring& xml);

 private:
  // The applications a fan-out goes to; throws when none may be made: on an
  // engine thread (a listener callback), or with nobody connected.
  std::vector<std::shared_ptr<Connection>> ApplicationsToSendTo();
  // The document as the frames carry it, once validated; throws when it is
  // not valid.
  std::u16string Validate(const std::wstring& xml);
  // Writes `text` to every one of `applications`, then awaits their
  // outcomes together. An application that failed is told DISCONNECT,
  // with why it goes, and removed. Requires turn_.
  std::vector<SendOutcome> Deliver(const std::vector<std::shared_ptr<Connection>>& applications,
                                const std::u16string& text);

  ConnectionRegistry& connections_;
  const std::shared_ptr<XmlValidator> validator_;
  const std::shared_ptr<Logging::Logger> logger_;
  std::mutex turn_;  // held by one fan-out at a time, inside this class only
};

}  // namespace Client
}  // namespace Corvane
