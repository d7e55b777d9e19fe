#include "connection/BinaryDataAckSendCommand.h"

#include <utility>

#include "connection/FileProgressReporter.h"
#include "connection/ListenerSlot.h"
#include "interface/Quellor.h"
#include "errors/ExceptionText.h"
#include "filestore/File.h"
#include "filestore/FileDelivery.h"
#include "logging/Logger.h"
#include "platform/TextConversion.h"
#include "protocol/BinaryDataAckMessage.h"
#include "protocol/BinaryDataMessage.h"

namespace Corvane {
namespace Client {

using Logging::LogLevel;
using Platform::FromUtf16;
using Platform::FromUtf8;

BinaryDataAckSendCommand::BinaryDataAckSendCommand(std::shared_ptr<Socket> socket,
                                                   std::shared_ptr<const BinaryDataMessage> message,
                                                   std::wstring errorText,
                                                   std::shared_ptr<File::File> file,
                                                   std::shared_ptr<File::FileDelivery> delivery,
                                                   std::shared_ptr<ListenerSlot> listener,
                                                   std::wstring applicationName,
                                                   std::shared_ptr<FileProgressReporter> progress)
    : SendCommand(std::move(socket)),
      message_(std::move(message)),
      error_text_(std::move(errorText)),
      listener_(std::move(listener)),
      logger_(Logging::CreateLogger(L"Corvane::Client::BinaryDataAckSendCommand")),
      file_(std::move(file)),
      delivery_(std::move(delivery)),
      application_name_(std::move(applicationName)),
      progress_(std::move(progress)) {}

BinaryDataAckSendCommand::~BinaryDataAckSendCommand() = default;

void BinaryDataAckSendCommand::Run() {
  try {
    const BinaryDataAckMessage ack(*message_, Platform::ToUtf16(error_text_));
    std::u16string frame = ack.ToString();
    logger_->Log(LogLevel::Debug, L"Sending BINACK for message ID: %ls",
                 FromUtf16(message_->GetMessageId()).c_str());
    auto self = shared_from_this();
    StartWrite(std::move(frame), [self](const boost::system::error_code& error, std::size_t bytes) {
      self->OnWritten(error, bytes);
    });
  } catch (const std::exception& e) {
    logger_->Log(LogLevel::Error,
                 L"Error occured acknowledging a BINDATA message.  Error message = \"%ls\"",
                 ExceptionText(e).c_str());
  }
}

void BinaryDataAckSendCommand::OnWritten(const boost::system::error_code& error,
                                            std::size_t bytesTransferred) {
  const bool all_sent = bytesTransferred == ExpectedBytes();
  logger_->Log(LogLevel::Debug, L"Did not send all: %ls", all_sent ? L"false" : L"true");
  const std::wstring failure =
      DescribeWriteFailure(L"Failed to send BINDATA acknowledgement.", error, bytesTransferred);
  if (!failure.empty()) {
    logger_->Log(LogLevel::Error, L"%ls", failure.c_str());
    if (progress_) progress_->Finished(false, failure);
    if (delivery_) {
      delivery_->Rollback();  // the file directory as it was before
      return;
    }
    try {
      file_->Remove();
    } catch (const std::exception& e) {
      logger_->Log(LogLevel::Debug, L"An error occured deleting %ls",
                   ExceptionText(e).c_str());
    }
    return;
  }
  if (delivery_) delivery_->Commit();
  if (progress_) progress_->Finished(error_text_.empty(), error_text_);
  if (!error_text_.empty()) return;
  const std::wstring path = file_->GetPath();
  listener_->Notify([&](QuellorListener& listener) { listener.OnFileReceived(path); });
  logger_->Log(LogLevel::Debug, L"Send BINACK -> finished successfully");
  logger_->Log(LogLevel::Info, L"File %ls received from %ls", path.c_str(),
               application_name_.c_str());
}

}  // namespace Client
}  // namespace Corvane
