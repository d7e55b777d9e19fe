#include "connection/DisconnectSendCommand.h"

#include <chrono>

#include "errors/ExceptionText.h"
#include "logging/Logger.h"
#include "platform/TextConversion.h"
#include "protocol/DisconnectMessage.h"

namespace Corvane {
namespace Client {

using Logging::LogLevel;

DisconnectSendCommand::DisconnectSendCommand(std::shared_ptr<Socket> socket, int timeout,
                                             bool wait)
    : SendCommand(std::move(socket)),
      timeout_(timeout),
      wait_(wait),
      logger_(Logging::CreateLogger(L"Corvane::Client::DisconnectSendCommand")) {}

DisconnectSendCommand::~DisconnectSendCommand() = default;

void DisconnectSendCommand::Run() {
  try {
    const DisconnectMessage disconnect;
    std::unique_lock<std::mutex> lock(mutex_);
    auto self = shared_from_this();
    StartWrite(disconnect.ToString(), [self](const boost::system::error_code& error,
                                             std::size_t bytes) { self->SendFinished(error, bytes); });
    if (!wait_ || socket_->IsIoThread()) return;
    condition_.wait_for(lock, std::chrono::milliseconds(timeout_), [this] { return finished_; });
  } catch (const std::exception& e) {
    logger_->Log(LogLevel::Error, L"%ls", ExceptionText(e).c_str());
  }
}

void DisconnectSendCommand::SendFinished(const boost::system::error_code&, std::size_t) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
  }
  condition_.notify_all();
}

}  // namespace Client
}  // namespace Corvane
