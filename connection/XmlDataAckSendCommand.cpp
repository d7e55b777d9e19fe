#include "connection/XmlDataAckSendCommand.h"

#include "connection/ListenerSlot.h"
#include "errors/ExceptionText.h"
#include "logging/Logger.h"
#include "platform/TextConversion.h"
#include "protocol/XmlDataAckMessage.h"
#include "protocol/XmlDataMessage.h"

namespace Corvane {
namespace Client {

using Logging::LogLevel;
using Platform::FromUtf16;

XmlDataAckSendCommand::XmlDataAckSendCommand(std::shared_ptr<Socket> socket,
                                             std::shared_ptr<XmlDataMessage> message,
                                             std::shared_ptr<ListenerSlot> listener,
                                             std::wstring applicationName)
    : SendCommand(std::move(socket)),
      message_(std::move(message)),
      logger_(Logging::CreateLogger(L"Corvane::Client::XmlDataAckSendCommand")),
      listener_(std::move(listener)),
      application_name_(std::move(applicationName)) {}

XmlDataAckSendCommand::~XmlDataAckSendCommand() = default;

void XmlDataAckSendCommand::Run() {
  try {
    XmlDataAckMessage ack(*message_);
    logger_->Log(LogLevel::Debug, L"Sending XMLACK for message ID: %ls",
                 FromUtf16(message_->GetMessageId()).c_str());
    auto self = shared_from_this();
    StartWrite(ack.ToString(), [self](const boost::system::error_code& error, std::size_t bytes) {
      self->OnWritten(error, bytes);
    });
  } catch (const std::exception& e) {
    logger_->Log(LogLevel::Error,
                 L"Error occured acknowledging an XMLDATA message.  Error message = \"%ls\"",
                 ExceptionText(e).c_str());
  }
}

void XmlDataAckSendCommand::OnWritten(const boost::system::error_code& error,
                                         std::size_t bytesTransferred) {
  const bool all_sent = bytesTransferred == ExpectedBytes();
  logger_->Log(LogLevel::Debug, L"Did not send all: %ls", all_sent ? L"false" : L"true");
  const std::wstring failure =
      DescribeWriteFailure(L"Failed to send XMLDATA acknowledgement.", error, bytesTransferred);
  if (!failure.empty()) {
    // A peer that never got its acknowledgement will send the data again.
    logger_->Log(LogLevel::Error, L"%ls", failure.c_str());
    return;
  }
  NotifyListener();
  logger_->Log(LogLevel::Debug, L"Send ack -> finished successfully");
}

void XmlDataAckSendCommand::NotifyListener() {
  const std::wstring xml = FromUtf16(message_->GetData());
  listener_->Notify([&](QuellorListener& listener) { listener.OnMessageReceived(xml); });
  logger_->Log(LogLevel::Info, L"Received message from %ls: %ls", application_name_.c_str(),
               xml.c_str());
}

}  // namespace Client
}  // namespace Corvane
