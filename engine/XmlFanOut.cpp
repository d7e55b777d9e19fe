#include "engine/XmlFanOut.h"

#include <algorithm>
#include <chrono>

#include "connection/Connection.h"
#include "connection/ListenerSlot.h"
#include "connection/SendGroup.h"
#include "engine/ConnectionRegistry.h"
#include "logging/Logger.h"
#include "platform/EngineError.h"
#include "platform/SpareDescriptor.h"
#include "platform/TextConversion.h"
#include "protocol/XmlDataMessage.h"
#include "xml/InvalidXmlError.h"
#include "xml/XmlValidator.h"

namespace Corvane {
namespace Client {

using Logging::LogLevel;

XmlFanOut::XmlFanOut(ConnectionRegistry& connections, std::shared_ptr<XmlValidator> validator)
    : connections_(connections),
      validator_(std::move(validator)),
      // The engine's own logger: the lines are the engine's.
      logger_(Logging::CreateLogger(L"Corvane::Client::Tarnlink")) {}

void XmlFanOut::SendData(const std::wstring& xml) {
  std::lock_guard<std::mutex> turn(turn_);
  const std::vector<std::shared_ptr<Connection>> applications = ApplicationsToSendTo();
  // Each outcome is judged as if the peer were the only one; the call
  // succeeds when any application has the document.
  const std::vector<SendOutcome> outcomes = Deliver(applications, Validate(xml));
  const bool delivered = std::any_of(outcomes.begin(), outcomes.end(),
                                     [](const SendOutcome& outcome) { return outcome.status == 0; });
  if (!delivered) {
    logger_->Log(LogLevel::Error, L"Send message failed.");
    throw EngineError(L"Failed to send message", Errc::kSendFailed);
  }
}

std::vector<SendOutcome> XmlFanOut::SendDataEach(const std::wstring& xml) {
  std::lock_guard<std::mutex> turn(turn_);
  const std::vector<std::shared_ptr<Connection>> applications = ApplicationsToSendTo();
  std::u16string text;
  try {
    text = Validate(xml);
  } catch (const InvalidXmlError& e) {
    // Sent to nobody; each application hears why.
    std::vector<SendOutcome> outcomes;
    outcomes.reserve(applications.size());
    for (const auto& application : applications) {
      outcomes.push_back({application->GetId(), e.GetCode(), e.Describe()});
    }
    return outcomes;
  }
  return Deliver(applications, text);
}

std::vector<std::shared_ptr<Connection>> XmlFanOut::ApplicationsToSendTo() {
  // A callback runs on an engine thread, which would have to deliver the
  // acknowledgements this call waits for: refuse at once instead of failing,
  // and dropping, every peer.
  if (ListenerSlot::IsInCallback()) {
    throw EngineError(
        L"SendData was called from inside a listener callback, on one of the engine's threads; "
        L"call it from a thread of the host",
        Errc::kCalledOnEngineThread);
  }
  std::vector<std::shared_ptr<Connection>> applications = connections_.GetApplications();
  if (applications.empty()) {
    throw EngineError(L"No applications currently connected", Errc::kNoApplications);
  }
  return applications;
}

std::u16string XmlFanOut::Validate(const std::wstring& xml) {
  if (logger_->IsInfo()) {
    logger_->Log(LogLevel::Info, L"SendData: Sending message \"%ls\"", xml.c_str());
  }
  // One UTF-16 copy serves the validation and the frames; a document too long
  // to be valid is refused without one.
  std::u16string text =
      xml.size() > XmlValidator::kMaxDocumentLength ? std::u16string() : Platform::ToUtf16(xml);
  try {
    validator_->Validate(xml, text);
  } catch (const EngineError& e) {
    // A grammar that had to be read from its file, in a process without a
    // descriptor to read it with, says nothing about the XML. Probed only
    // on a failure: a kept grammar needs no descriptor.
    if (e.Code() != Errc::kInvalidXml || Platform::SpareDescriptor::OneMoreAvailable()) throw;
    logger_->Log(LogLevel::Error, L"Send message failed: the process has no file descriptors left.");
    throw EngineError(
        L"Failed to send message: the process has no file descriptors left to read the grammar",
        Errc::kSendFailed);
  }
  return text;
}

std::vector<SendOutcome> XmlFanOut::Deliver(
    const std::vector<std::shared_ptr<Connection>>& applications, const std::u16string& text) {
  // Every application gets the frame first, then the acknowledgements are
  // awaited together: the peers work at the same time, and the call wakes
  // once when all have answered (Connection::FinishSend judges each).
  const auto group = std::make_shared<SendGroup>(applications.size());
  std::vector<Connection::PendingSend> sends;
  sends.reserve(applications.size());
  std::chrono::milliseconds ackTimeout{0};
  for (const auto& connection : applications) {
    sends.push_back(connection->StartSend(std::make_shared<XmlDataMessage>(text), group));
    ackTimeout = std::max(ackTimeout, connection->GetSettings().ackTimeout);
  }
  // Peers that have not answered by then are waited for one by one, each
  // within its own time.
  group->WaitUntil(std::chrono::steady_clock::now() + ackTimeout);

  std::vector<SendOutcome> outcomes(applications.size());
  for (std::size_t i = 0; i < applications.size(); ++i) {
    outcomes[i].applicationId = applications[i]->GetId();
    if (applications[i]->FinishSend(sends[i], &outcomes[i])) continue;
    // The end first, so that the observer hears why the application went.
    applications[i]->End(Farewell::kDisconnect,
                         outcomes[i].status == Platform::ToInt(Errc::kNotAcknowledged)
                             ? DepartureReason::kAcknowledgementTimeout
                             : DepartureReason::kConnectionLost);
    connections_.Remove(applications[i]);
  }
  return outcomes;
}

}  // namespace Client
}  // namespace Corvane
