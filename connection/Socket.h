#pragma once
// Moves whole runs of 16-bit characters (the wire unit) over one stream,
// asynchronously, and reports failures as error codes. A
// connection and the commands that write on its behalf share one Socket.

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include <boost/asio/any_io_executor.hpp>
#include <boost/system/error_code.hpp>

namespace Corvane {
namespace Client {

/// Completion handler of AsyncRead and AsyncWrite: the error (none on success)
/// and the number of bytes transferred (twice the characters). Callers bind it
/// to a shared pointer of themselves so that they stay alive until it has run.
using IoHandler = std::function<void(const boost::system::error_code&, std::size_t bytesTransferred)>;

class Socket {
 public:
  virtual ~Socket() = default;

  /// Starts filling the whole of `buffer`. The buffer belongs to the caller and
  /// must stay alive and unchanged until the handler has run. The handler is
  /// called once, on the I/O thread; a stream closed by Close completes it with
  /// operation_aborted.
  virtual void AsyncRead(std::u16string& buffer, IoHandler handler) = 0;
  /// Fills the whole of `buffer` at once from what has already been received
  /// and not yet read, when that holds enough, and returns true; otherwise
  /// takes nothing and returns false (read with AsyncRead then). On the I/O
  /// thread, between reads. Lets a frame that arrived whole be read on
  /// without a trip through the I/O queue.
  virtual bool ReadReceived(std::u16string& /*buffer*/) { return false; }
  /// Lets receives take up to `bytes` beyond what a read asks for (0: the
  /// socket's own small default), so that one receive serves the many reads
  /// of a long run of data such as a file's. On the I/O thread, between reads.
  virtual void SetReadAhead(std::size_t /*bytes*/) {}

  /// Starts sending the whole of `text` (the socket keeps it until sent). The
  /// handler is called once, on the I/O thread. Frames of different writers
  /// never interleave.
  virtual void AsyncWrite(std::u16string text, IoHandler handler) = 0;
  /// As AsyncWrite, except that a write the stream takes whole at once, off
  /// the I/O thread, may complete inside this call, on the calling thread. For
  /// writers whose handler only records the outcome: no I/O thread is woken
  /// just to run it.
  virtual void AsyncWriteMayCompleteHere(std::u16string text, IoHandler handler) {
    AsyncWrite(std::move(text), std::move(handler));
  }

  /// True while the stream is open; false from the moment Close is called.
  virtual bool IsOpen() const = 0;

  /// Closes the stream. Pending operations complete with operation_aborted.
  virtual void Close() = 0;

  /// Like Close, except that the writes queued before the call are still
  /// written: the stream is closed once they have completed, or after
  /// `timeout` at the latest. IsOpen is false and new writes are refused at
  /// once. Never waits; safe from any thread.
  virtual void CloseAfterWrites(std::chrono::milliseconds timeout) = 0;

  /// The executor completions run on, for the timers of those who use the
  /// socket.
  virtual boost::asio::any_io_executor GetExecutor() const = 0;

  /// True when the calling thread runs the I/O service this socket completes
  /// its operations on: there, waiting for one of its completions would never
  /// end.
  virtual bool IsIoThread() const = 0;

 protected:
  Socket() = default;
  Socket(const Socket&) = default;
  Socket& operator=(const Socket&) = default;
};

}  // namespace Client
}  // namespace Corvane
