#include "support/PeerPool.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include <cstring>
#include <future>

#include "interface/Quellor.h"
#include "protocol/ConnectMessage.h"
#include "protocol/ConnectResponseMessage.h"
#include "protocol/DisconnectMessage.h"
#include "protocol/FrameParser.h"
#include "protocol/HealthCheckAckMessage.h"
#include "protocol/HealthCheckMessage.h"
#include "protocol/MessageFactory.h"
#include "protocol/XmlDataAckMessage.h"
#include "protocol/XmlDataMessage.h"
#include "support/BenchSupport.h"

namespace Corvane {
namespace Bench {

using boost::asio::ip::tcp;
using namespace Client;

namespace {

// The one receive buffer of the I/O thread.
std::vector<char>& ReceiveBuffer() {
  thread_local std::vector<char> buffer(256 * 1024);
  return buffer;
}

}  // namespace

// Starts the next connection each time one handshake has ended, until
// `remaining` is used up. I/O thread only.
struct PeerPool::Launcher : std::enable_shared_from_this<Launcher> {
  Launcher(PeerPool* owner, int count) : pool(owner), remaining(count) {}
  PeerPool* pool;
  int remaining;
  void Next();
};

class PeerPool::Peer : public std::enable_shared_from_this<Peer> {
 public:
  Peer(boost::asio::io_context& io, std::shared_ptr<Counters> counters,
       std::shared_ptr<Launcher> launcher, int index)
      : socket_(io), counters_(std::move(counters)), launcher_(std::move(launcher)), index_(index) {}

  void Start(int port) {
    const tcp::endpoint endpoint(boost::asio::ip::make_address_v4("127.0.0.1"),
                                 static_cast<unsigned short>(port));
    socket_.async_connect(endpoint, [self = shared_from_this()](const boost::system::error_code& e) {
      self->OnConnected(e);
    });
  }

  void Close() {
    closed_ = true;
    boost::system::error_code ignored;
    socket_.close(ignored);
  }

 private:
  void OnConnected(const boost::system::error_code& error) {
    if (error) {
      int none = 0;
      counters_->first_connect_error.compare_exchange_strong(none, error.value());
      ++counters_->connect_errors;
      Fail();
      return;
    }
    boost::system::error_code ignored;
    socket_.set_option(tcp::no_delay(true), ignored);
    socket_.non_blocking(true, ignored);
    const std::u16string id = u"bench-peer-" + Decimal16(index_);
    Send(ConnectMessage(id, u"Bench Peer " + Decimal16(index_), u"127.0.0.1").ToString());
    WaitReadable();
  }

  static std::u16string Decimal16(int value) {
    const std::string text = std::to_string(value);
    return std::u16string(text.begin(), text.end());
  }

  void Fail() {
    if (handshaken_ || failed_) return;
    failed_ = true;
    ++counters_->failed;
    if (launcher_) launcher_->Next();
    launcher_.reset();
  }

  void WaitReadable() {
    if (closed_) return;
    socket_.async_wait(tcp::socket::wait_read,
                       [self = shared_from_this()](const boost::system::error_code& error) {
                         self->OnReadable(error);
                       });
  }

  void OnReadable(const boost::system::error_code& error) {
    if (closed_ || error) return;
    std::vector<char>& buffer = ReceiveBuffer();
    for (;;) {
      boost::system::error_code readError;
      const std::size_t n = socket_.read_some(boost::asio::buffer(buffer), readError);
      if (readError == boost::asio::error::would_block) break;
      if (readError || n == 0) {
        ++counters_->closed_by_engine;
        Fail();
        Close();
        return;
      }
      if (!Consume(buffer.data(), n)) return;
      if (n < buffer.size()) break;
    }
    WaitReadable();
  }

  // Turns what has arrived into messages; false when the peer gave up.
  bool Consume(const char* data, std::size_t size) {
    std::size_t offset = 0;
    for (;;) {
      std::size_t used = 0;
      const FrameParser::Result result = parser_.PushBytes(data + offset, size - offset, used);
      offset += used;
      if (result == FrameParser::Result::kNeedMore) return true;
      if (result == FrameParser::Result::kBad) {
        ++counters_->parse_failures;
        Fail();
        Close();
        return false;
      }
      if (result == FrameParser::Result::kComplete) Handle(parser_.TakeMessage());
    }
  }

  void Handle(const std::shared_ptr<IntegrationMessage>& message) {
    if (auto xml = std::dynamic_pointer_cast<XmlDataMessage>(message)) {
      // Counted first: the engine may read the count as soon as it has the answer.
      ++counters_->xml_answered;
      Send(XmlDataAckMessage(*xml).ToString());
    } else if (auto check = std::dynamic_pointer_cast<HealthCheckMessage>(message)) {
      ++counters_->checks_answered;
      Send(HealthCheckAckMessage(*check).ToString());
    } else if (std::dynamic_pointer_cast<ConnectResponseMessage>(message)) {
      if (!handshaken_ && !failed_) {
        handshaken_ = true;
        ++counters_->handshakes;
        counters_->last_handshake_ns = Clock::now().time_since_epoch().count();
        if (launcher_) launcher_->Next();
        launcher_.reset();
      }
    } else if (std::dynamic_pointer_cast<DisconnectMessage>(message)) {
      ++counters_->disconnects;
    }
  }

  void Send(std::u16string frame) {
    if (closed_) return;
    if (writing_) {
      queue_.push_back(std::move(frame));
      return;
    }
    writing_ = true;
    in_flight_ = std::move(frame);
    boost::asio::async_write(
        socket_, boost::asio::buffer(in_flight_.data(), in_flight_.size() * 2),
        [self = shared_from_this()](const boost::system::error_code& error, std::size_t) {
          self->OnWritten(error);
        });
  }

  void OnWritten(const boost::system::error_code& error) {
    writing_ = false;
    if (error || closed_) return;
    if (queue_.empty()) {
      std::u16string().swap(in_flight_);
      return;
    }
    std::u16string next = std::move(queue_.front());
    queue_.erase(queue_.begin());
    Send(std::move(next));
  }

  tcp::socket socket_;
  const std::shared_ptr<Counters> counters_;
  std::shared_ptr<Launcher> launcher_;  // until the handshake has ended
  const int index_;
  FrameParser parser_;
  std::u16string in_flight_;
  std::vector<std::u16string> queue_;
  bool writing_ = false;
  bool handshaken_ = false;
  bool failed_ = false;
  bool closed_ = false;
};

void PeerPool::Launcher::Next() {
  if (remaining <= 0) return;
  --remaining;
  auto peer = std::make_shared<Peer>(pool->io_, pool->counters_, shared_from_this(),
                                     pool->next_index_++);
  pool->peers_.push_back(peer);
  peer->Start(pool->port_);
}

PeerPool::PeerPool(int port)
    : work_(boost::asio::make_work_guard(io_)), port_(port), thread_([this] { io_.run(); }) {}

PeerPool::~PeerPool() {
  CloseAll();
  work_.reset();
  io_.stop();
  thread_.join();
}

int PeerPool::Connect(int count, int window, std::chrono::milliseconds limit) {
  const int before = counters_->handshakes + counters_->failed;
  const int handshakesBefore = counters_->handshakes;
  boost::asio::post(io_, [this, count, window] {
    auto launcher = std::make_shared<Launcher>(this, count);
    for (int i = 0; i < window; ++i) launcher->Next();
  });
  const auto deadline = Clock::now() + limit;
  while (counters_->handshakes + counters_->failed - before < count && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return counters_->handshakes - handshakesBefore;
}

void PeerPool::CloseAll() {
  std::promise<void> done;
  boost::asio::post(io_, [this, &done] {
    for (const auto& peer : peers_) peer->Close();
    peers_.clear();
    done.set_value();
  });
  done.get_future().wait();
}

}  // namespace Bench
}  // namespace Corvane
