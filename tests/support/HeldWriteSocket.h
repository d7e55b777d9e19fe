#pragma once
// A socket for command tests: it keeps what is written and holds the write's
// handler until the test completes it, from the test's thread as the I/O
// thread would.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>
#include <gtest/gtest.h>

#include "connection/Socket.h"

namespace Corvane {
namespace Testing {

class HeldWriteSocket : public Client::Socket {
 public:
  /// `ioThread`: what IsIoThread answers, i.e. whether commands believe they
  /// run on the I/O thread.
  explicit HeldWriteSocket(bool ioThread = false) : io_thread_(ioThread) {}

  void AsyncRead(std::u16string&, Client::IoHandler) override {}
  void AsyncWrite(std::u16string text, Client::IoHandler handler) override {
    std::lock_guard<std::mutex> lock(mutex_);
    written_ = std::move(text);
    handler_ = std::move(handler);
    started_.notify_all();
  }
  bool IsOpen() const override { return open_; }
  void Close() override {}
  void CloseAfterWrites(std::chrono::milliseconds) override {}
  boost::asio::any_io_executor GetExecutor() const override { return io_.get_executor(); }
  bool IsIoThread() const override { return io_thread_; }

  /// What IsOpen answers from now on, as when the connection has closed the
  /// socket behind a write that never completes.
  void SetOpen(bool open) { open_ = open; }

  /// Waits until a write has started.
  void WaitForWrite() {
    std::unique_lock<std::mutex> lock(mutex_);
    ASSERT_TRUE(started_.wait_for(lock, std::chrono::seconds(5), [this] { return handler_ != nullptr; }));
  }
  /// Waits for the write, then completes it with `error` and all its bytes
  /// (none on an error). The handler, and the command it holds, go with it.
  void Complete(const boost::system::error_code& error = {}) {
    WaitForWrite();
    Complete(error, error ? 0 : Written().size() * 2);
  }
  void Complete(const boost::system::error_code& error, std::size_t bytes) {
    WaitForWrite();
    Client::IoHandler handler;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      handler.swap(handler_);
    }
    handler(error, bytes);
  }
  /// The last text written.
  std::u16string Written() {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
  }

 private:
  mutable boost::asio::io_context io_;  // never run: only lends its executor
  const bool io_thread_;
  std::atomic<bool> open_{true};
  std::mutex mutex_;
  std::condition_variable started_;
  std::u16string written_;
  Client::IoHandler handler_;
};

}  // namespace Testing
}  // namespace Corvane
