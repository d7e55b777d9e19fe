#pragma once
// Socket over a Boost.Asio TCP stream.
//
// Ownership and lifetime: the BoostSocket owns its stream (the engine hands it
// the stream its acceptor accepted), so no use can reach a destroyed stream.
// A BoostSocket must itself be owned by a std::shared_ptr (create it with
// std::make_shared): every asynchronous operation keeps it alive until its
// handler has run. It does not keep its io_context alive: a handler queued
// there holds the socket, and would hold the io_context in a cycle. Whoever
// owns the socket keeps the io_context alive (a connection does).
//
// Threads: the socket's state belongs to one strand of the stream's
// executor: starting reads and writes, their completions and closing all run
// there, and other threads hand their calls to it (AsyncRead, AsyncWrite,
// IsOpen and Close may be called from any thread). Handlers run on that
// strand, on the thread running the io_context.
//
// One fast path is kept beside the strand, because it saves the I/O thread a
// wake-up per frame that a host thread sends (measured: a fan-out's XML round
// trip): a write from another thread that finds nothing queued and nothing on
// its way to the queue is sent at once from that thread, without waiting
// (TryWriteNow). The rule that makes it safe: it sends only while
// write_mutex_ shows an empty queue and no posted writes (so frames keep
// their order), and only under stream_mutex_ with the stream open (so it
// never races the close, which takes the same lock). What it cannot send
// whole goes to the strand, which writes the rest first.
// Writes go through a queue with one write in flight: frames written by
// different threads never interleave on the wire, and each thread's frames go
// out in the order it wrote them.
//
// Characters go on the wire as UTF-16LE; the code relies on the machine being
// little-endian, so that a u16string's memory is already in wire order.

#include <atomic>
#include <chrono>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>

#include "connection/Socket.h"

namespace Corvane {
namespace Client {

class BoostSocket : public Socket, public std::enable_shared_from_this<BoostSocket> {
 public:
  using Stream = boost::asio::ip::tcp::socket;

  /// `stream` must not be null; it may still be unopened (accepted into later).
  /// Its io_context must outlive the socket.
  explicit BoostSocket(std::shared_ptr<Stream> stream);
  /// An accepted stream. Its io_context must outlive the socket.
  explicit BoostSocket(Stream stream);
  ~BoostSocket() override;
  BoostSocket(const BoostSocket&) = delete;
  BoostSocket& operator=(const BoostSocket&) = delete;

  /// Reads until the whole buffer is filled (see Socket). Started on the strand;
  /// after Close the handler gets operation_aborted. Each receive also takes
  /// up to kReadAhead bytes beyond the buffer, when they have arrived, and the
  /// next read starts with them: a small frame's header and body then cost
  /// one receive, not two.
  void AsyncRead(std::u16string& buffer, IoHandler handler) override;

  /// Takes what was read ahead (see Socket). Strand only.
  bool ReadReceived(std::u16string& buffer) override;

  /// See Socket. The larger buffer is made at the next receive that finds
  /// nothing left ahead, and goes again at the first one after a call with 0.
  void SetReadAhead(std::size_t bytes) override;

  /// Bytes a receive may take beyond what was asked for, unless SetReadAhead
  /// asks for more.
  static constexpr std::size_t kReadAhead = 256;

  /// Queues `text`; the handler gets the bytes written (twice the characters).
  /// A queued write that can no longer be written because the socket was
  /// closed completes with operation_aborted. The handler is never called
  /// from inside this call.
  void AsyncWrite(std::u16string text, IoHandler handler) override;
  void AsyncWriteMayCompleteHere(std::u16string text, IoHandler handler) override;

  /// False from the moment Close is called, and whenever the stream is not open.
  bool IsOpen() const override;

  /// Marks the socket closed at once and closes the stream on the strand
  /// (immediately when called there, otherwise as soon as the I/O thread runs
  /// it): pending and queued operations complete with operation_aborted.
  /// Errors while closing are ignored. Idempotent.
  void Close() override;

  /// Whether the calling thread runs the stream's io_context (or is inside
  /// this socket's strand).
  bool IsIoThread() const override;

  /// See Socket; what is still in flight at the timeout is aborted, and new
  /// writes complete with operation_aborted.
  void CloseAfterWrites(std::chrono::milliseconds timeout) override;

  /// The stream's executor.
  boost::asio::any_io_executor GetExecutor() const override;

  /// Bounds what a peer that stops reading can cost: behind the frame being
  /// written, at most `maxQueuedBytes` may wait, and the frame being written
  /// must leave within `stallTimeout`. Past either, the stream is shut down
  /// (the reader then sees its end) and what is queued fails. Call before the
  /// first write; 0 leaves a bound off.
  void LimitWrites(std::size_t maxQueuedBytes, std::chrono::milliseconds stallTimeout);

  /// The stream, for socket options.
  Stream& GetStream() { return *stream_; }

 private:
  struct PendingWrite {
    std::u16string text;
    IoHandler handler;
    std::size_t sent;  // bytes already written at once (TryWriteNow, SendAtOnce)
  };

  // Off the I/O thread, with nothing queued: sends `text` at once without
  // blocking, so the frame need not wait for the I/O thread to wake up. True
  // when it took the write over (the handler then runs on the strand as
  // usual); false, leaving both arguments untouched, when the strand must
  // write it.
  // `completeHere`: a write sent whole runs its handler on this thread.
  bool TryWriteNow(std::u16string& text, IoHandler& handler, bool completeHere);
  // Sends what the open stream takes at once, under stream_mutex_ so that it
  // never races the close; 0 when the stream is closed or took nothing.
  std::size_t SendWithoutWaiting(const void* data, std::size_t bytes);
  void QueueWrite(std::u16string text, IoHandler handler, bool completeHere);

  // Fills `data` from what was read ahead, then from the stream. Strand.
  void ReadInto(char* data, std::size_t bytes, IoHandler handler);
  // Copies what was read ahead into `data`; returns the bytes copied.
  std::size_t TakeReadAhead(char* data, std::size_t bytes);

  // All of these run on the strand.
  void ResumeWrite();
  void EnqueueWrite(const std::shared_ptr<PendingWrite>& write, bool accepted);
  // With nothing in flight: sends what the stream takes at once, without
  // waiting, and counts it in `write.sent`; true when all of it went. A write
  // that fails or finds the buffer full is left to the waiting write, which
  // reports the error or arms the stall timer as usual. Requires
  // write_mutex_.
  bool SendAtOnce(PendingWrite& write);
  void StartNextWrite();
  void OnWriteComplete(const boost::system::error_code& error, std::size_t bytes);
  void CloseWhenWritten(std::chrono::milliseconds timeout);
  void CloseStream();
  // Shuts the stream down because its peer does not take what is written.
  void Abort(const char* why);
  void ArmStallTimer();

  std::shared_ptr<Stream> stream_;
  boost::asio::strand<boost::asio::any_io_executor> strand_;
  // Bytes received beyond the last read, [ahead_begin_, ahead_end_) of
  // read_ahead_ (made at the first read, ahead_capacity_ bytes, remade
  // when ahead_wanted_ differs and nothing is left ahead). Strand only.
  std::unique_ptr<char[]> read_ahead_;
  std::size_t ahead_capacity_ = 0;
  std::size_t ahead_wanted_ = kReadAhead;
  std::size_t ahead_begin_ = 0;
  std::size_t ahead_end_ = 0;
  std::atomic<bool> closed_;
  // Guards the stream's open state between IsOpen (any thread) and closing.
  mutable std::mutex stream_mutex_;
  // Guards write_queue_ and posted_writes_, which TryWriteNow reads off the
  // strand; the strand changes them only under it.
  std::mutex write_mutex_;
  // The front entry is the write in flight. A list, not a deque: an empty
  // deque already holds a block of 512 bytes, for every idle connection.
  using WriteQueue = std::list<std::shared_ptr<PendingWrite>>;
  WriteQueue write_queue_;
  // Writes handed to the strand and not yet queued there.
  int posted_writes_ = 0;
  // Set by CloseAfterWrites while the queued writes drain. Strand only.
  bool draining_ = false;
  // Set once the stream has been closed here. Strand only.
  bool stream_closed_ = false;
  std::unique_ptr<boost::asio::steady_timer> drain_timer_;
  // Write bounds (see LimitWrites) and the bytes queued behind the frame in
  // flight (guarded by write_mutex_).
  std::size_t max_queued_bytes_ = 0;
  std::chrono::milliseconds stall_timeout_{0};
  std::size_t queued_bytes_ = 0;
  std::unique_ptr<boost::asio::steady_timer> stall_timer_;  // strand only
  bool aborted_ = false;                                     // strand only
};

}  // namespace Client
}  // namespace Corvane
