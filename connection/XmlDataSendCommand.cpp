#include "connection/XmlDataSendCommand.h"

#include <chrono>
#include <new>

#include "platform/EngineError.h"
#include "connection/SendGroup.h"
#include "interface/Quellor.h"
#include "logging/Logger.h"
#include "platform/TextConversion.h"
#include "protocol/WireFormat.h"
#include "protocol/XmlDataMessage.h"

namespace Corvane {
namespace Client {

using Logging::LogLevel;
using Platform::FromUtf16;

namespace {

const wchar_t* Text(bool value) { return value ? L"true" : L"false"; }

}  // namespace

XmlDataSendCommand::XmlDataSendCommand(std::shared_ptr<Socket> socket,
                                       std::shared_ptr<XmlDataMessage> message,
                                       std::chrono::milliseconds ackTimeout,
                                       int peerVersion, std::shared_ptr<Logging::Logger> logger,
                                       std::shared_ptr<SendGroup> group)
    : SendCommand(std::move(socket)),
      message_(std::move(message)),
      ack_timeout_(ackTimeout),
      peer_version_(peerVersion),
      logger_(std::move(logger)),
      group_(std::move(group)) {}

XmlDataSendCommand::~XmlDataSendCommand() { CallFinished(); }

void XmlDataSendCommand::WhenFinished(std::function<void()> finished) {
  finished_ = std::move(finished);
}

void XmlDataSendCommand::CallFinished() {
  if (!finished_) return;
  const std::function<void()> finished = std::move(finished_);
  finished_ = nullptr;
  finished();
}

void XmlDataSendCommand::Run() {
  Start();
  Finish();
}

void XmlDataSendCommand::Start() {
  // Only the debug lines show the id: skipped with them.
  const bool debug = logger_->IsEnabled(LogLevel::Debug);
  const std::wstring id = debug ? FromUtf16(message_->GetMessageId()) : std::wstring();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    started_at_ = std::chrono::steady_clock::now();
  }
  try {
    if (debug) {
      logger_->Log(LogLevel::Debug, L"XmlDataSendCommand: before async write for message id: %ls",
                   id.c_str());
      logger_->Log(LogLevel::Debug,
                   L"XmlDataSendCommand: before async write for message contents: %ls",
                   FromUtf16(message_->GetData()).c_str());
    }
    auto self = shared_from_this();
    // OnWritten only records the outcome: it may run here.
    StartWriteMayCompleteHere(message_->ToString(),
                              [self](const boost::system::error_code& error, std::size_t bytes) {
                                self->OnWritten(error, bytes);
                              });
    if (debug) {
      logger_->Log(LogLevel::Debug, L"XmlDataSendCommand: after async write for message id: %ls",
                   id.c_str());
    }
  } catch (...) {
    bool tell = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      start_failed_ = true;
      tell = SettleLocked();
    }
    if (tell) group_->OneSettled();
  }
}

void XmlDataSendCommand::Finish() {
  // Runs after the lock below is released, however Finish ends.
  struct Finished {
    XmlDataSendCommand& command;
    ~Finished() { command.CallFinished(); }
  } finished{*this};
  std::unique_lock<std::mutex> lock(mutex_);
  if (start_failed_) throw EngineError(L"Failed to send message", Errc::kSendFailed);

  logger_->Log(LogLevel::Debug, L"Run -> send_finished = %ls", Text(send_finished_));
  const auto limit = ack_timeout_;
  if (!send_finished_) {
    // Counted from the write's start: a fan-out may come here later.
    const auto start = started_at_;
    logger_->Log(LogLevel::Debug, L"Run -> send_finished == false, waiting");
    // Woken by the write's completion (a successful write to a version-1
    // peer only through its XMLACK, see OnWritten), the connection's end, or
    // the deadline: the acknowledgement wait below starts no later than it
    // would have without the wake-up.
    condition_.wait_until(lock, start + limit,
                          [this] { return send_finished_ || connection_ended_; });
    const std::chrono::duration<double> waited =
        (send_finished_ ? finished_at_ : std::chrono::steady_clock::now()) - start;
    logger_->Log(LogLevel::Debug, L"Time waited for send to finish: %f seconds", waited.count());
    if (!send_finished_) {
      logger_->Log(LogLevel::Error, L"Send still did not finish after wait loop");
      throw EngineError(error_message_, error_code_);
    }
  }
  if (error_code_ != Errc{}) {
    logger_->Log(LogLevel::Error, L"Run -> error code = %d, error_message = %ls", Platform::ToInt(error_code_),
                 error_message_.c_str());
    throw EngineError(error_message_, error_code_);
  }
  if (!Wire::UsesAcknowledgements(peer_version_)) {
    logger_->Log(LogLevel::Debug, L"XmlDataSendCommand:Run -> Not waiting for ack...");
  } else {
    logger_->Log(LogLevel::Debug, L"Run -> send_finished = %ls, ack_received = %ls", L"true",
                 Text(ack_received_));
    if (!ack_received_) {
      logger_->Log(LogLevel::Debug, L"Run -> ack_received == false, waiting %lld ms",
                   static_cast<long long>(ack_timeout_.count()));
      // Counted from the write's completion, which may lie a little back.
      condition_.wait_until(lock, finished_at_ + limit,
                            [this] { return ack_received_ || connection_ended_; });
    }
    if (!ack_received_) {
      logger_->Log(LogLevel::Error, L"Run -> ack_received still == false, throwing exception");
      throw EngineError(L"Message was sent but not acknowledged", Errc::kNotAcknowledged);
    }
  }
  logger_->Log(LogLevel::Debug, L"Run -> finished successfully, error code = %d", Platform::ToInt(error_code_));
}

void XmlDataSendCommand::OnWritten(const boost::system::error_code& error,
                                      std::size_t bytesTransferred) {
  std::wstring failure;
  try {
    logger_->Log(LogLevel::Debug,
                 L"Inside start of OnWritten on XmlDataSendCommand -> send_finished = false");
    failure = DescribeWriteFailure(L"Failed to send the XML data message.", error, bytesTransferred);
    if (!failure.empty()) {
      logger_->Log(LogLevel::Error, L"OnWritten -> error: %ls", failure.c_str());
    }
    logger_->Log(LogLevel::Debug,
                 L"Just before notify all within OnWritten on XmlDataSendCommand -> "
                 L"send_finished = true");
  } catch (const std::exception&) {
    logger_->Log(LogLevel::Error, L"XmlDataSendCommand: Exception caught in OnWritten");
  }
  bool wake = true;
  bool tell = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!failure.empty()) {
      error_code_ = Errc::kSendFailed;
      error_message_ = failure;
    }
    send_finished_ = true;
    finished_at_ = std::chrono::steady_clock::now();
    // Run has nothing to do until a version-1 peer's XMLACK, whose arrival
    // wakes it: waking it now as well would only have it wait again, at the
    // cost of a context switch per message. An XMLACK that came first (the
    // frame may be written before this handler runs) found nothing to wake for.
    wake = !failure.empty() || !Wire::UsesAcknowledgements(peer_version_) || ack_received_;
    tell = SettleLocked();
  }
  if (wake) condition_.notify_all();
  if (tell) group_->OneSettled();
  logger_->Log(LogLevel::Debug, L"Just after notify all within OnWritten on XmlDataSendCommand");
}

void XmlDataSendCommand::OnConnectionEnded() {
  bool tell = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connection_ended_ = true;
    tell = SettleLocked();
  }
  condition_.notify_all();
  if (tell) group_->OneSettled();
}

void XmlDataSendCommand::OnAckReceived(const std::shared_ptr<IntegrationMessage>& ack) {
  logger_->Log(LogLevel::Debug, L"OnAckReceived");
  if (ack->GetMessageId() != message_->GetMessageId()) return;
  bool tell = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ack_received_ = true;
    acked_at_ = std::chrono::steady_clock::now();
    tell = SettleLocked();
  }
  condition_.notify_all();
  if (tell) group_->OneSettled();
}

std::chrono::microseconds XmlDataSendCommand::RoundTrip() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!ack_received_) return std::chrono::microseconds(-1);
  return std::chrono::duration_cast<std::chrono::microseconds>(acked_at_ - started_at_);
}

bool XmlDataSendCommand::SettleLocked() {
  if (!group_ || settled_) return false;
  // What Finish needs in order to decide without waiting.
  const bool known =
      start_failed_ ||
      (send_finished_ && (error_code_ != Errc{} || !Wire::UsesAcknowledgements(peer_version_) ||
                          ack_received_ || connection_ended_));
  if (!known) return false;
  settled_ = true;
  return true;
}

}  // namespace Client
}  // namespace Corvane
