#pragma once
// A socket in memory for connection tests: the test plays the peer, and the
// stream breaks at a chosen operation.
//
// Reads and writes are counted together, in the order the connection starts
// them. From the operation chosen with BreakAt on, the stream is broken, as a
// reset TCP stream is: that operation and every later one fail with
// connection_reset, and a read already waiting fails too. Completions run on
// the given io_context, never inside the call that started the operation.

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

#include "connection/Socket.h"

namespace Corvane {
namespace Testing {

class MemorySocket : public Client::Socket, public std::enable_shared_from_this<MemorySocket> {
 public:
  /// Called on the I/O thread with each frame the connection has written.
  using PeerScript = std::function<void(MemorySocket& socket, const std::u16string& frame)>;

  MemorySocket(boost::asio::io_context& io, PeerScript peer) : io_(io), peer_(std::move(peer)) {}

  /// Breaks the stream at operation `n` (1 for the first); 0 never breaks it.
  void BreakAt(int n) {
    std::lock_guard<std::mutex> lock(mutex_);
    break_at_ = n;
  }
  /// Operations started so far.
  int Operations() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return operations_;
  }
  bool Broken() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return broken_;
  }

  /// Characters the peer sends; any thread.
  void Deliver(const std::u16string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    inbound_ += text;
    CompleteRead();
  }
  /// The peer has sent all it will (an orderly end of its stream): once what
  /// was delivered is read, a read that wants more fails with eof. Any thread.
  void EndStream() {
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    CompleteRead();
  }

  void AsyncRead(std::u16string& buffer, Client::IoHandler handler) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return Post(std::move(handler), boost::asio::error::operation_aborted, 0);
    if (Count()) return Post(std::move(handler), boost::asio::error::connection_reset, 0);
    read_buffer_ = &buffer;
    read_handler_ = std::move(handler);
    CompleteRead();
  }

  void AsyncWrite(std::u16string text, Client::IoHandler handler) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return Post(std::move(handler), boost::asio::error::operation_aborted, 0);
    if (Count()) {
      CompleteRead();  // the waiting read learns of the reset too
      return Post(std::move(handler), boost::asio::error::connection_reset, 0);
    }
    const std::size_t bytes = text.size() * sizeof(char16_t);
    Post(std::move(handler), {}, bytes);
    boost::asio::post(io_, [self = shared_from_this(), frame = std::move(text)] {
      if (self->peer_) self->peer_(*self, frame);
    });
  }

  bool IsOpen() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return !closed_;
  }
  void Close() override {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    if (read_handler_) {
      Post(std::move(read_handler_), boost::asio::error::operation_aborted, 0);
      read_handler_ = nullptr;
    }
  }
  // Writes complete at once, so nothing is left to wait for.
  void CloseAfterWrites(std::chrono::milliseconds) override { Close(); }
  boost::asio::any_io_executor GetExecutor() const override { return io_.get_executor(); }
  bool IsIoThread() const override { return io_.get_executor().running_in_this_thread(); }

 private:
  // Counts an operation; true when it finds the stream broken. Requires mutex_.
  bool Count() {
    ++operations_;
    if (break_at_ > 0 && operations_ >= break_at_) broken_ = true;
    return broken_;
  }

  // Completes the waiting read when its characters are there or the stream
  // broke under it. Requires mutex_.
  void CompleteRead() {
    if (!read_handler_) return;
    if (broken_) {
      Post(std::move(read_handler_), boost::asio::error::connection_reset, 0);
    } else if (inbound_.size() >= read_buffer_->size()) {
      const std::size_t count = read_buffer_->size();
      read_buffer_->assign(inbound_, 0, count);
      inbound_.erase(0, count);
      Post(std::move(read_handler_), {}, count * sizeof(char16_t));
    } else if (ended_) {
      Post(std::move(read_handler_), boost::asio::error::eof, 0);
    } else {
      return;
    }
    read_handler_ = nullptr;
    read_buffer_ = nullptr;
  }

  void Post(Client::IoHandler handler, boost::system::error_code error, std::size_t bytes) {
    boost::asio::post(io_, [handler = std::move(handler), error, bytes] { handler(error, bytes); });
  }

  boost::asio::io_context& io_;
  const PeerScript peer_;
  mutable std::mutex mutex_;
  int break_at_ = 0;
  int operations_ = 0;
  bool broken_ = false;
  bool closed_ = false;
  bool ended_ = false;
  std::u16string inbound_;
  std::u16string* read_buffer_ = nullptr;
  Client::IoHandler read_handler_;
};

}  // namespace Testing
}  // namespace Corvane
