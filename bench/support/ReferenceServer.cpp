#include "support/ReferenceServer.h"
#include "platform/EngineError.h"

#include <future>

#include <boost/asio/post.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include "interface/Quellor.h"
#include "protocol/ConnectMessage.h"
#include "protocol/ConnectResponseMessage.h"
#include "protocol/MessageFactory.h"
#include "protocol/WireFormat.h"

namespace Corvane {
namespace Bench {

using boost::asio::ip::tcp;

ReferenceServer::ReferenceServer() : work_(boost::asio::make_work_guard(io_)), acceptor_(io_) {
  const tcp::endpoint endpoint(boost::asio::ip::make_address_v4("127.0.0.1"), 0);
  acceptor_.open(endpoint.protocol());
  acceptor_.bind(endpoint);
  acceptor_.listen(boost::asio::socket_base::max_listen_connections);
  port_ = acceptor_.local_endpoint().port();
  Accept();
  thread_ = std::thread([this] { io_.run(); });
}

ReferenceServer::~ReferenceServer() {
  CloseAll();
  boost::asio::post(io_, [this] {
    boost::system::error_code ignored;
    acceptor_.close(ignored);
  });
  work_.reset();
  io_.stop();
  thread_.join();
}

void ReferenceServer::Accept() {
  auto stream = std::make_shared<tcp::socket>(io_);
  acceptor_.async_accept(*stream, [this, stream](const boost::system::error_code& error) {
    OnAccepted(stream, error);
  });
}

void ReferenceServer::OnAccepted(const std::shared_ptr<tcp::socket>& stream,
                                 const boost::system::error_code& error) {
  if (error == boost::asio::error::operation_aborted) return;
  if (!error) {
    boost::system::error_code ignored;
    stream->set_option(tcp::no_delay(true), ignored);
    auto connect = std::make_shared<std::u16string>(Client::Wire::kConnectFrameLength, u'\0');
    boost::asio::async_read(
        *stream, boost::asio::buffer(&(*connect)[0], connect->size() * 2),
        [this, stream, connect](const boost::system::error_code& readError, std::size_t) {
          if (readError) return;
          std::shared_ptr<Client::ConnectMessage> message;
          try {
            message = std::dynamic_pointer_cast<Client::ConnectMessage>(
                Client::ParseMessage(*connect));
          } catch (const Client::EngineError&) {
          }
          if (!message) return;
          auto answer = std::make_shared<std::u16string>(
              Client::ConnectResponseMessage(*message, u"reference-id", u"Reference", u"en", 45501)
                  .ToString());
          boost::asio::async_write(*stream, boost::asio::buffer(answer->data(), answer->size() * 2),
                                   [this, stream, answer](const boost::system::error_code& e,
                                                          std::size_t) {
                                     if (e) return;
                                     streams_.push_back(stream);
                                     ++handshakes_;
                                   });
        });
  }
  Accept();
}

std::shared_ptr<tcp::socket> ReferenceServer::FirstStream() {
  std::promise<std::shared_ptr<tcp::socket>> first;
  boost::asio::post(io_, [this, &first] {
    first.set_value(streams_.empty() ? nullptr : streams_.front());
  });
  return first.get_future().get();
}

std::vector<int> ReferenceServer::ReleaseStreams() {
  std::promise<std::vector<int>> released;
  boost::asio::post(io_, [this, &released] {
    std::vector<int> descriptors;
    for (const auto& stream : streams_) {
      boost::system::error_code error;
      const int descriptor = stream->release(error);
      if (!error) descriptors.push_back(descriptor);
    }
    streams_.clear();
    released.set_value(std::move(descriptors));
  });
  return released.get_future().get();
}

void ReferenceServer::CloseAll() {
  std::promise<void> done;
  boost::asio::post(io_, [this, &done] {
    boost::system::error_code ignored;
    for (const auto& stream : streams_) stream->close(ignored);
    streams_.clear();
    done.set_value();
  });
  done.get_future().wait();
}

}  // namespace Bench
}  // namespace Corvane
