#include "connection/XmlTransactions.h"

#include "connection/XmlDataSendCommand.h"
#include "logging/Logger.h"
#include "protocol/XmlDataMessage.h"

namespace Corvane {
namespace Client {

void XmlTransactions::Turn::Take() {
  std::unique_lock<std::mutex> lock(mutex);
  free.wait(lock, [this] { return !taken; });
  taken = true;
}

void XmlTransactions::Turn::Give() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    taken = false;
  }
  free.notify_one();
}

XmlTransactions::XmlTransactions(std::shared_ptr<Socket> socket) : socket_(std::move(socket)) {}

std::shared_ptr<XmlDataSendCommand> XmlTransactions::Begin(
    std::shared_ptr<XmlDataMessage> message, std::chrono::milliseconds ackTimeout,
    int peerVersion, std::shared_ptr<SendGroup> group) {
  turn_->Take();
  std::shared_ptr<XmlDataSendCommand> command;
  bool ended = false;
  try {
    std::shared_ptr<Logging::Logger> logger;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!logger_) logger_ = Logging::CreateLogger(L"Corvane::Client::XmlDataSendCommand");
      logger = logger_;
    }
    command = std::make_shared<XmlDataSendCommand>(socket_, std::move(message), ackTimeout,
                                                   peerVersion, std::move(logger), std::move(group));
    command->WhenFinished([turn = turn_] { turn->Give(); });
  } catch (...) {
    turn_->Give();
    throw;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = command;
    ended = ended_;
  }
  // A connection that ended before the command was in place would never
  // tell it so.
  if (ended) command->OnConnectionEnded();
  command->Start();
  return command;
}

void XmlTransactions::OnAckReceived(const std::shared_ptr<IntegrationMessage>& ack) {
  if (const auto command = Current()) command->OnAckReceived(ack);
}

void XmlTransactions::OnConnectionEnded() {
  std::shared_ptr<XmlDataSendCommand> command;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    command = current_.lock();
  }
  // A transaction waiting for its XMLACK would otherwise wait out the timeout.
  if (command) command->OnConnectionEnded();
}

std::shared_ptr<XmlDataSendCommand> XmlTransactions::Current() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return current_.lock();
}

}  // namespace Client
}  // namespace Corvane
