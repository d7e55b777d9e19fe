#include "connection/DisconnectSendCommand.h"

#include "errors/ExceptionText.h"
#include "logging/Logger.h"
#include "protocol/DisconnectMessage.h"

namespace Corvane {
namespace Client {

using Logging::LogLevel;

DisconnectSendCommand::DisconnectSendCommand(std::shared_ptr<Socket> socket)
    : SendCommand(std::move(socket)),
      logger_(Logging::CreateLogger(L"Corvane::Client::DisconnectSendCommand")) {}

DisconnectSendCommand::~DisconnectSendCommand() = default;

void DisconnectSendCommand::Run() {
  try {
    StartWrite(DisconnectMessage().ToString(),
               [self = shared_from_this()](const boost::system::error_code& error,
                                           std::size_t bytes) { self->OnWritten(error, bytes); });
  } catch (const std::exception& e) {
    logger_->Log(LogLevel::Error, L"%ls", ExceptionText(e).c_str());
  }
}

void DisconnectSendCommand::OnWritten(const boost::system::error_code& error,
                                      std::size_t bytesTransferred) const {
  // The peer that misses its DISCONNECT sees the stream close all the same.
  const std::wstring failure =
      DescribeWriteFailure(L"Failed to send the disconnect message.", error, bytesTransferred);
  if (!failure.empty()) logger_->Log(LogLevel::Debug, L"%ls", failure.c_str());
}

}  // namespace Client
}  // namespace Corvane
