#include "connection/HealthCheckSendCommand.h"

#include <algorithm>
#include <cassert>
#include <chrono>

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>

#include "connection/Connection.h"
#include "connection/LinkHealth.h"
#include "errors/DescribeError.h"
#include "logging/Logger.h"
#include "platform/TextConversion.h"
#include "protocol/HealthCheckMessage.h"
#include "protocol/WireFormat.h"

namespace Corvane {
namespace Client {

using Logging::LogLevel;

HealthCheckSendCommand::HealthCheckSendCommand(const std::shared_ptr<Connection>& connection,
                                               std::shared_ptr<Socket> socket,
                                               std::chrono::milliseconds interval,
                                               std::chrono::milliseconds ackTimeout)
    : SendCommand(std::move(socket)),
      connection_(connection),
      timer_(socket_->GetExecutor()),
      interval_(interval),
      ack_timeout_(ackTimeout),
      logger_(Logging::CreateLogger(L"Corvane::Client::HealthCheckSendCommand")) {}

HealthCheckSendCommand::~HealthCheckSendCommand() = default;

void HealthCheckSendCommand::Run() { ScheduleNextSend(); }

void HealthCheckSendCommand::Cancel() {
  cancelled_ = true;
  // The timer belongs to the I/O thread; cancel it there.
  boost::asio::post(timer_.get_executor(), [self = shared_from_this()] { self->timer_.cancel(); });
}

bool HealthCheckSendCommand::IsCancellation(const boost::system::error_code& error) const {
  return cancelled_ || error == boost::asio::error::operation_aborted ||
         error == boost::asio::error::connection_reset ||
         error == boost::asio::error::connection_aborted;
}

void HealthCheckSendCommand::OnAckReceived(const std::shared_ptr<IntegrationMessage>& ack) {
  assert(socket_->IsIoThread());
  const auto it = std::find(pending_ids_.begin(), pending_ids_.end(), ack->GetMessageId());
  if (it == pending_ids_.end()) return;
  pending_ids_.erase(it);
  if (ack->GetMessageId() != last_sent_id_) return;
  if (const auto connection = connection_.lock()) {
    connection->GetHealth()->OnHealthCheckAnswered(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                              last_sent_at_));
  }
}

void HealthCheckSendCommand::ScheduleNextSend() {
  if (cancelled_) return;
  logger_->Log(LogLevel::Debug, L"ScheduleNextSend: Next send in %lld milleseconds.",
               static_cast<long long>(interval_.count()));
  timer_.expires_after(interval_);
  timer_.async_wait([self = shared_from_this()](const boost::system::error_code& error) {
    self->OnIntervalElapsed(error);
  });
}

void HealthCheckSendCommand::OnIntervalElapsed(const boost::system::error_code& error) {
  assert(socket_->IsIoThread());
  if (IsCancellation(error)) return;
  if (error) {
    logger_->Log(LogLevel::Error, L"HealthCheckSendCommand::OnIntervalElapsed failed with %ls",
                 Platform::FromUtf8(DescribeError(error)).c_str());
  }
  logger_->Log(LogLevel::Info, L"OnIntervalElapsed: Sending health check message");
  const std::shared_ptr<Connection> connection = connection_.lock();
  if (!connection) return;
  const HealthCheckMessage check;
  const std::u16string id = check.GetMessageId();
  StartWrite(check.ToString(), [self = shared_from_this(), id](
                                   const boost::system::error_code& writeError, std::size_t) {
    self->OnCheckWritten(writeError, id);
  });
  logger_->Log(LogLevel::Debug, L"OnIntervalElapsed: async_send_to complete");
  if (Wire::UsesAcknowledgements(connection->GetVersion())) {
    // The answer is due one timeout after the check was queued, not after it
    // was written: a peer that stopped reading never lets the write complete.
    pending_ids_.push_back(id);
    last_sent_id_ = id;
    last_sent_at_ = std::chrono::steady_clock::now();
    logger_->Log(LogLevel::Info, L"OnCheckWritten: Waiting ack for %lld milleseconds.",
                 static_cast<long long>(ack_timeout_.count()));
    timer_.expires_after(ack_timeout_);
    timer_.async_wait([self = shared_from_this(), id](const boost::system::error_code& waitError) {
      self->OnAckWaitElapsed(waitError, id);
    });
  }
}

void HealthCheckSendCommand::OnCheckWritten(const boost::system::error_code& error,
                                            const std::u16string& /*messageId*/) {
  assert(socket_->IsIoThread());
  if (IsCancellation(error)) return;
  const std::shared_ptr<Connection> connection = connection_.lock();
  if (error) {
    logger_->Log(LogLevel::Error, L"HealthCheckSendCommand::OnCheckWritten failed with %ls)",
                 Platform::FromUtf8(DescribeError(error)).c_str());
    if (connection) {
      logger_->Log(LogLevel::Info, L"HealthCheckSendCommand::OnCheckWritten closing %ls",
                   connection->GetName().c_str());
      connection->End(Farewell::kDisconnect, DepartureReason::kConnectionLost);
    }
    return;
  }
  if (connection && !Wire::UsesAcknowledgements(connection->GetVersion())) {
    logger_->Log(LogLevel::Debug, L"OnCheckWritten: Scheduling next send without waiting for ack.");
    ScheduleNextSend();
  }
}

void HealthCheckSendCommand::OnAckWaitElapsed(const boost::system::error_code& error,
                                                      const std::u16string& messageId) {
  assert(socket_->IsIoThread());
  if (IsCancellation(error)) return;
  if (error) {
    logger_->Log(LogLevel::Error,
                 L"HealthCheckSendCommand::OnAckWaitElapsed failed with %ls)",
                 Platform::FromUtf8(DescribeError(error)).c_str());
  }
  const std::shared_ptr<Connection> connection = connection_.lock();
  // Answered, or the peer has since announced a version that answers nothing.
  const bool answered =
      std::find(pending_ids_.begin(), pending_ids_.end(), messageId) == pending_ids_.end();
  if (answered || (connection && !Wire::UsesAcknowledgements(connection->GetVersion()))) {
    pending_ids_.clear();
    ScheduleNextSend();
    return;
  }
  if (connection) {
    logger_->Log(LogLevel::Info, L"Health check failed.  Closing %ls", connection->GetName().c_str());
    connection->GetHealth()->OnAcknowledgementMissed();
    connection->End(Farewell::kDisconnect, DepartureReason::kHealthCheckUnanswered);
  }
}

}  // namespace Client
}  // namespace Corvane
