#include "connection/ConnectionHandshake.h"

#include <cassert>

#include <boost/asio/error.hpp>

#include "connection/AccessPolicy.h"
#include "connection/Socket.h"
#include "errors/DescribeError.h"
#include "platform/EngineError.h"
#include "platform/TextConversion.h"
#include "protocol/ConnectMessage.h"
#include "protocol/ConnectResponseMessage.h"
#include "protocol/MessageFactory.h"
#include "protocol/WireFormat.h"

namespace Corvane {
namespace Client {

using Platform::FromUtf16;
using Platform::FromUtf8;
using Platform::ToUtf16;

ConnectionHandshake::ConnectionHandshake(std::shared_ptr<Socket> socket,
                                         std::shared_ptr<const ConnectionSettings> settings)
    : socket_(std::move(socket)), settings_(std::move(settings)), timer_(socket_->GetExecutor()) {}

void ConnectionHandshake::Start(Handler done) {
  done_ = std::move(done);
  buffer_.assign(Wire::kConnectFrameLength, u'\0');
  auto self = shared_from_this();
  timer_.expires_after(settings_->ackTimeout);
  timer_.async_wait([self](const boost::system::error_code& error) { self->OnTimeout(error); });
  socket_->AsyncRead(buffer_, [self](const boost::system::error_code& error, std::size_t bytes) {
    self->OnConnectRead(error, bytes);
  });
}

void ConnectionHandshake::OnTimeout(const boost::system::error_code& error) {
  assert(socket_->IsIoThread());
  if (error || !done_) return;
  // The peer has not sent its CONNECT in time: end the read, which then fails
  // as a short CONNECT does.
  timed_out_ = true;
  socket_->Close();
}

std::shared_ptr<IntegrationMessage> ConnectionHandshake::ParseConnect(
    const boost::system::error_code& error, std::size_t bytes) {
  const std::size_t received = bytes / sizeof(char16_t);
  if (error || received < buffer_.size()) {
    const int code = timed_out_ ? boost::system::error_code(boost::asio::error::timed_out).value()
                                : error.value();
    throw Platform::WideError(L"ConnectMessage: Expected " +
                              std::to_wstring(Wire::kConnectFrameLength) + L" bytes, received " +
                              std::to_wstring(received) + L". Error code (" +
                              std::to_wstring(code) + L").");
  }
  auto connect = std::dynamic_pointer_cast<ConnectMessage>(ParseMessage(buffer_));
  if (!connect) {
    throw EngineError(L"Error occurred parsing a message", Errc::kParse);
  }
  return connect;
}

void ConnectionHandshake::OnConnectRead(const boost::system::error_code& error, std::size_t bytes) {
  assert(socket_->IsIoThread());
  timer_.cancel();
  Outcome outcome;
  try {
    outcome.connect = std::static_pointer_cast<ConnectMessage>(ParseConnect(error, bytes));
  } catch (const Platform::WideError&) {
    outcome.failure = std::current_exception();
  }
  std::u16string().swap(buffer_);
  const std::shared_ptr<ConnectMessage>& connect = outcome.connect;
  if (!connect || connect->GetMessageId().empty()) {
    Finish(std::move(outcome));
    return;
  }
  if (settings_->access &&
      !settings_->access->AllowsApplication(FromUtf16(connect->GetApplicationId()))) {
    // No CONNECTACK, and no farewell either: the peer learns nothing.
    outcome.refused = true;
    outcome.failure = std::make_exception_ptr(
        Platform::WideError(L"application id " + FromUtf16(connect->GetApplicationId()) +
                            L" is not in AllowedApplicationIds"));
    Finish(std::move(outcome));
    return;
  }
  const ConnectResponseMessage response(*connect, ToUtf16(settings_->engineApplicationId),
                                        ToUtf16(settings_->engineApplicationName),
                                        ToUtf16(settings_->language), settings_->filePort);
  connect_ = connect;
  std::u16string frame = response.ToString();
  const std::size_t expected = frame.size();
  socket_->AsyncWrite(std::move(frame), [self = shared_from_this(), expected](
                                            const boost::system::error_code& e,
                                            std::size_t written) {
    self->OnResponseWritten(e, written, expected);
  });
}

void ConnectionHandshake::OnResponseWritten(const boost::system::error_code& error,
                                            std::size_t bytes, std::size_t expected) {
  Outcome outcome;
  outcome.connect = std::move(connect_);
  const std::size_t written = bytes / sizeof(char16_t);
  if (error || written < expected) {
    outcome.failure = std::make_exception_ptr(Platform::WideError(
        L"Failed to send the connect response message.  Expected to send " +
        std::to_wstring(expected) + L" but only sent " + std::to_wstring(written) + L"." +
        FromUtf8(DescribeError(error))));
  }
  Finish(std::move(outcome));
}

void ConnectionHandshake::Finish(Outcome outcome) {
  assert(socket_->IsIoThread());
  Handler done = std::move(done_);
  done_ = nullptr;
  if (done) done(std::move(outcome));
}

}  // namespace Client
}  // namespace Corvane
