#include "engine/SocketServer.h"

#include <cerrno>

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>

#include "errors/DescribeError.h"
#include "logging/Logger.h"
#include "platform/TextConversion.h"

namespace Corvane {
namespace Client {

using Logging::LogLevel;
using boost::asio::ip::tcp;

SocketServer::SocketServer(std::shared_ptr<boost::asio::io_context> ioContext, int port,
                           StreamHandler handle, std::string address)
    : io_context_(std::move(ioContext)),
      port_(port),
      address_(std::move(address)),
      handle_(std::move(handle)),
      retry_timer_(*io_context_),
      logger_(Logging::CreateLogger(L"Corvane::Client::SocketServer")) {}

SocketServer::~SocketServer() = default;

void SocketServer::Start() {
  Listen();
  StartAccept();
}

void SocketServer::Listen() {
  auto acceptor = std::make_shared<tcp::acceptor>(*io_context_);
  const auto port = static_cast<unsigned short>(port_);
  const tcp::endpoint endpoint = address_.empty()
                                     ? tcp::endpoint(tcp::v4(), port)
                                     : tcp::endpoint(boost::asio::ip::make_address_v4(address_), port);
  acceptor->open(endpoint.protocol());
  acceptor->set_option(tcp::acceptor::reuse_address(true));
  acceptor->bind(endpoint);
  acceptor->listen(boost::asio::socket_base::max_listen_connections);
  acceptor_ = std::move(acceptor);
}

void SocketServer::StartAccept() {
  // The handler keeps the acceptor too: Stop releases it while the accept is
  // still pending.
  acceptor_->async_accept([self = shared_from_this(), acceptor = acceptor_](
                              const boost::system::error_code& error, tcp::socket stream) {
    self->OnAccept(error, std::move(stream));
  });
}

void SocketServer::OnAccept(const boost::system::error_code& error, tcp::socket stream) {
  if (error == boost::asio::error::operation_aborted || stopped_) return;
  if (error) {
    const bool shortage = error == boost::asio::error::no_descriptors ||
                          error.value() == ENFILE || error == boost::asio::error::no_buffer_space ||
                          error == boost::asio::error::no_memory;
    if (shortage) {
      // Keep listening; shed the waiting peer so that it learns at once, and
      // say so once a minute rather than for every attempt.
      spare_.ShedOne(acceptor_->native_handle());
      const auto now = std::chrono::steady_clock::now();
      if (now - shortage_logged_ > std::chrono::minutes(1)) {
        shortage_logged_ = now;
        logger_->Log(LogLevel::Error,
                     L"Out of descriptors: refusing connections on port %d until some are freed "
                     L"(%ls)",
                     port_, Platform::FromUtf8(DescribeError(error)).c_str());
      }
    } else {
      logger_->Log(LogLevel::Error, L"An attempted socket connection failed with error %ls",
                   Platform::FromUtf8(DescribeError(error)).c_str());
    }
    retry_timer_.expires_after(kRetryDelay);
    retry_timer_.async_wait([self = shared_from_this()](const boost::system::error_code& waitError) {
      if (waitError || self->stopped_ || !self->acceptor_) return;
      self->StartAccept();
    });
    return;
  }
  // Frames are small and answered at once: never hold one back for Nagle.
  boost::system::error_code ignored;
  stream.set_option(tcp::no_delay(true), ignored);
  handle_(std::move(stream));
  StartAccept();
}

void SocketServer::Stop() {
  boost::asio::post(*io_context_, [self = shared_from_this()] {
    self->stopped_ = true;
    self->retry_timer_.cancel();
    self->CloseAcceptor();
  });
}

void SocketServer::CloseAcceptor() {
  if (!acceptor_) return;
  boost::system::error_code error;
  if (acceptor_->is_open()) acceptor_->close(error);
  if (error) {
    logger_->Log(LogLevel::Error, L"Error occured closing socket server %ls",
                 Platform::FromUtf8(DescribeError(error)).c_str());
  }
  acceptor_.reset();
}

}  // namespace Client
}  // namespace Corvane
