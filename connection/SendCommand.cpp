#include "connection/SendCommand.h"

#include "errors/DescribeError.h"
#include "platform/TextConversion.h"

namespace Corvane {
namespace Client {

SendCommand::SendCommand(std::shared_ptr<Socket> socket) : socket_(std::move(socket)) {}

SendCommand::~SendCommand() = default;

void SendCommand::StartWrite(std::u16string frame, IoHandler handler) {
  expected_bytes_ = frame.size() * sizeof(char16_t);
  socket_->AsyncWrite(std::move(frame), std::move(handler));
}

void SendCommand::StartWriteMayCompleteHere(std::u16string frame, IoHandler handler) {
  expected_bytes_ = frame.size() * sizeof(char16_t);
  socket_->AsyncWriteMayCompleteHere(std::move(frame), std::move(handler));
}

std::wstring SendCommand::DescribeWriteFailure(const std::wstring& failure,
                                               const boost::system::error_code& error,
                                               std::size_t bytesTransferred) const {
  const bool short_write = bytesTransferred != expected_bytes_;
  if (!short_write && !error) return {};
  std::wstring text = failure;
  if (short_write) {
    text += L"  Expected to send " + std::to_wstring(expected_bytes_) + L" bytes but only sent " +
            std::to_wstring(bytesTransferred) + L".";
  }
  if (error) text += L"  " + Platform::FromUtf8(DescribeError(error));
  return text;
}

}  // namespace Client
}  // namespace Corvane
