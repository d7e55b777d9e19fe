#include "connection/BoostSocket.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>
#include <utility>

#include <boost/asio/bind_executor.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include "logging/Logger.h"
#include "platform/SocketSend.h"
#include "platform/TextConversion.h"

namespace Corvane {
namespace Client {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "u16string memory is sent as UTF-16LE as it stands; a big-endian port must swap bytes");

namespace {

constexpr std::size_t kBytesPerCharacter = sizeof(char16_t);

const boost::system::error_code kAborted = boost::asio::error::operation_aborted;

}  // namespace

BoostSocket::BoostSocket(std::shared_ptr<Stream> stream)
    : stream_(std::move(stream)),
      strand_(stream_ ? boost::asio::make_strand(stream_->get_executor())
                      : throw std::invalid_argument("BoostSocket needs a stream")),
      closed_(false) {}

BoostSocket::BoostSocket(Stream stream)
    : stream_(std::make_shared<Stream>(std::move(stream))),
      strand_(boost::asio::make_strand(stream_->get_executor())),
      closed_(false) {}

BoostSocket::~BoostSocket() = default;

void BoostSocket::AsyncRead(std::u16string& buffer, IoHandler handler) {
  auto self = shared_from_this();
  char* data = reinterpret_cast<char*>(&buffer[0]);
  const std::size_t bytes = buffer.size() * kBytesPerCharacter;
  boost::asio::dispatch(strand_, [self, data, bytes, handler = std::move(handler)]() mutable {
    if (self->closed_) {
      boost::asio::post(self->strand_, [handler]() { handler(kAborted, 0); });
      return;
    }
    self->ReadInto(data, bytes, std::move(handler));
  });
}

std::size_t BoostSocket::TakeReadAhead(char* data, std::size_t bytes) {
  const std::size_t taken = std::min(bytes, ahead_end_ - ahead_begin_);
  if (taken > 0) std::memcpy(data, read_ahead_.get() + ahead_begin_, taken);
  ahead_begin_ += taken;
  if (ahead_begin_ == ahead_end_) ahead_begin_ = ahead_end_ = 0;
  return taken;
}

bool BoostSocket::ReadReceived(std::u16string& buffer) {
  const std::size_t bytes = buffer.size() * kBytesPerCharacter;
  if (closed_ || ahead_end_ - ahead_begin_ < bytes) return false;
  TakeReadAhead(reinterpret_cast<char*>(&buffer[0]), bytes);
  return true;
}

void BoostSocket::SetReadAhead(std::size_t bytes) { ahead_wanted_ = std::max(bytes, kReadAhead); }

void BoostSocket::ReadInto(char* data, std::size_t bytes, IoHandler handler) {
  const std::size_t taken = TakeReadAhead(data, bytes);
  if (taken == bytes) {
    // Never inside the caller's AsyncRead.
    boost::asio::post(strand_, [handler = std::move(handler), bytes]() {
      handler(boost::system::error_code(), bytes);
    });
    return;
  }
  // Nothing is left ahead now: the receive may fill the read-ahead afresh.
  if (!read_ahead_ || ahead_capacity_ != ahead_wanted_) {
    read_ahead_.reset();
    read_ahead_ = std::make_unique<char[]>(ahead_wanted_);
    ahead_capacity_ = ahead_wanted_;
  }
  const std::size_t wanted = bytes - taken;
  const std::array<boost::asio::mutable_buffer, 2> buffers{
      boost::asio::buffer(data + taken, wanted),
      boost::asio::buffer(read_ahead_.get(), ahead_capacity_)};
  boost::asio::async_read(
      *stream_, buffers, boost::asio::transfer_at_least(wanted),
      boost::asio::bind_executor(
          strand_, [self = shared_from_this(), handler = std::move(handler), taken, wanted](
                       const boost::system::error_code& error, std::size_t transferred) {
            if (transferred > wanted) {
              self->ahead_begin_ = 0;
              self->ahead_end_ = transferred - wanted;
            }
            handler(error, taken + std::min(transferred, wanted));
          }));
}

void BoostSocket::AsyncWrite(std::u16string text, IoHandler handler) {
  QueueWrite(std::move(text), std::move(handler), false);
}

void BoostSocket::AsyncWriteMayCompleteHere(std::u16string text, IoHandler handler) {
  QueueWrite(std::move(text), std::move(handler), true);
}

void BoostSocket::QueueWrite(std::u16string text, IoHandler handler, bool completeHere) {
  auto self = shared_from_this();
  // Decided now, not on the strand: a write made before CloseAfterWrites is
  // still written, whenever the strand gets to it.
  const bool accepted = !closed_;
  if (accepted && !IsIoThread() && TryWriteNow(text, handler, completeHere)) return;
  auto write = std::make_shared<PendingWrite>(PendingWrite{std::move(text), std::move(handler), 0});
  {
    std::lock_guard<std::mutex> lock(write_mutex_);
    ++posted_writes_;
  }
  boost::asio::dispatch(strand_, [self, write, accepted]() { self->EnqueueWrite(write, accepted); });
}

bool BoostSocket::TryWriteNow(std::u16string& text, IoHandler& handler, bool completeHere) {
  const std::size_t bytes = text.size() * kBytesPerCharacter;
  std::unique_lock<std::mutex> lock(write_mutex_);
  // Only when nothing is queued or on its way to the queue, so that frames
  // keep their order.
  if (!write_queue_.empty() || posted_writes_ > 0 || bytes == 0) return false;
  const std::size_t sent = SendWithoutWaiting(text.data(), bytes);
  // Nothing taken (a full buffer, an error): the strand writes it, and
  // reports any error as every other write does.
  if (sent == 0) return false;
  auto self = shared_from_this();
  if (sent == bytes && completeHere) {
    lock.unlock();
    if (handler) handler(boost::system::error_code(), sent);
    return true;
  }
  if (sent == bytes) {
    boost::asio::post(strand_, [self, handler = std::move(handler), sent]() {
      if (handler) handler(boost::system::error_code(), sent);
    });
    return true;
  }
  // Partly taken: the rest goes first, written from the strand.
  write_queue_.push_back(std::make_shared<PendingWrite>(
      PendingWrite{std::move(text), std::move(handler), sent}));
  lock.unlock();
  boost::asio::post(strand_, [self]() { self->ResumeWrite(); });
  return true;
}

void BoostSocket::ResumeWrite() {
  std::unique_lock<std::mutex> lock(write_mutex_);
  if (!stream_closed_) {
    StartNextWrite();
    return;
  }
  // Closed before the rest could go out.
  WriteQueue abandoned;
  abandoned.swap(write_queue_);
  lock.unlock();
  for (const auto& write : abandoned) {
    if (write->handler) write->handler(kAborted, write->sent);
  }
}

bool BoostSocket::IsOpen() const {
  if (closed_) return false;
  std::lock_guard<std::mutex> lock(stream_mutex_);
  return stream_->is_open();
}

void BoostSocket::Close() {
  closed_ = true;
  auto self = shared_from_this();
  boost::asio::dispatch(strand_, [self]() { self->CloseStream(); });
}

void BoostSocket::CloseAfterWrites(std::chrono::milliseconds timeout) {
  closed_ = true;
  auto self = shared_from_this();
  boost::asio::dispatch(strand_, [self, timeout]() { self->CloseWhenWritten(timeout); });
}

void BoostSocket::EnqueueWrite(const std::shared_ptr<PendingWrite>& write, bool accepted) {
  std::lock_guard<std::mutex> lock(write_mutex_);
  --posted_writes_;
  if (!accepted || stream_closed_) {
    // Never call the handler from inside the caller's AsyncWrite.
    boost::asio::post(strand_, [write]() {
      if (write->handler) write->handler(kAborted, 0);
    });
    return;
  }
  const std::size_t bytes = write->text.size() * kBytesPerCharacter - write->sent;
  // The frame in flight is never counted: one large frame is always allowed.
  if (!write_queue_.empty() && max_queued_bytes_ > 0 &&
      queued_bytes_ + bytes > max_queued_bytes_) {
    boost::asio::post(strand_, [write]() {
      if (write->handler) write->handler(boost::asio::error::no_buffer_space, 0);
    });
    Abort("more than the write limit is waiting for a peer that does not read");
    return;
  }
  if (!write_queue_.empty()) {
    queued_bytes_ += bytes;
  } else if (SendAtOnce(*write)) {
    // Taken whole: no write operation, no stall timer to arm and cancel.
    boost::asio::post(strand_, [write]() {
      if (write->handler) write->handler(boost::system::error_code(), write->sent);
    });
    return;
  }
  write_queue_.push_back(write);
  if (write_queue_.size() == 1) StartNextWrite();
}

bool BoostSocket::SendAtOnce(PendingWrite& write) {
  const std::size_t bytes = write.text.size() * kBytesPerCharacter;
  if (write.sent >= bytes) return false;
  write.sent += SendWithoutWaiting(reinterpret_cast<const char*>(write.text.data()) + write.sent,
                                   bytes - write.sent);
  return write.sent == bytes;
}

std::size_t BoostSocket::SendWithoutWaiting(const void* data, std::size_t bytes) {
  std::lock_guard<std::mutex> streamLock(stream_mutex_);
  if (!stream_->is_open()) return 0;
  return Platform::SendWithoutWaiting(stream_->native_handle(), data, bytes);
}

void BoostSocket::StartNextWrite() {
  const PendingWrite& write = *write_queue_.front();
  ArmStallTimer();
  boost::asio::async_write(
      *stream_,
      boost::asio::buffer(reinterpret_cast<const char*>(write.text.data()) + write.sent,
                          write.text.size() * kBytesPerCharacter - write.sent),
      boost::asio::bind_executor(strand_, [self = shared_from_this()](
                                              const boost::system::error_code& error,
                                              std::size_t bytes) {
        self->OnWriteComplete(error, bytes);
      }));
}

void BoostSocket::OnWriteComplete(const boost::system::error_code& error, std::size_t bytes) {
  std::unique_lock<std::mutex> lock(write_mutex_);
  std::shared_ptr<PendingWrite> finished = std::move(write_queue_.front());
  write_queue_.pop_front();
  if (!write_queue_.empty()) {
    const PendingWrite& next = *write_queue_.front();
    queued_bytes_ -= std::min(queued_bytes_, next.text.size() * kBytesPerCharacter - next.sent);
  } else if (stall_timer_) {
    stall_timer_->cancel();
  }

  WriteQueue abandoned;
  bool close = false;
  if (closed_ && !draining_) {
    abandoned.swap(write_queue_);
  } else if (!write_queue_.empty()) {
    StartNextWrite();
  } else if (draining_) {
    close = true;
  }
  lock.unlock();
  if (close) CloseStream();

  // Handlers last: they may queue further writes.
  if (finished->handler) finished->handler(error, finished->sent + bytes);
  for (const auto& write : abandoned) {
    if (write->handler) write->handler(kAborted, 0);
  }
}

void BoostSocket::CloseWhenWritten(std::chrono::milliseconds timeout) {
  bool idle = false;
  {
    std::lock_guard<std::mutex> lock(write_mutex_);
    idle = write_queue_.empty();
  }
  if (idle) {
    CloseStream();
    return;
  }
  if (draining_) return;
  draining_ = true;
  drain_timer_ = std::make_unique<boost::asio::steady_timer>(stream_->get_executor(), timeout);
  drain_timer_->async_wait(boost::asio::bind_executor(
      strand_, [self = shared_from_this()](const boost::system::error_code& error) {
        if (!error) self->CloseStream();
      }));
}

void BoostSocket::CloseStream() {
  draining_ = false;
  stream_closed_ = true;
  if (drain_timer_) drain_timer_->cancel();
  if (stall_timer_) stall_timer_->cancel();
  std::lock_guard<std::mutex> lock(stream_mutex_);
  if (!stream_->is_open()) return;
  boost::system::error_code ignored;
  // Shutting down first also wakes a thread blocked in a synchronous receive.
  stream_->shutdown(Stream::shutdown_both, ignored);
  stream_->close(ignored);
}

void BoostSocket::LimitWrites(std::size_t maxQueuedBytes, std::chrono::milliseconds stallTimeout) {
  std::lock_guard<std::mutex> lock(write_mutex_);
  max_queued_bytes_ = maxQueuedBytes;
  stall_timeout_ = stallTimeout;
}

void BoostSocket::ArmStallTimer() {
  if (stall_timeout_.count() <= 0) return;
  if (!stall_timer_) stall_timer_ = std::make_unique<boost::asio::steady_timer>(stream_->get_executor());
  stall_timer_->expires_after(stall_timeout_);
  stall_timer_->async_wait(boost::asio::bind_executor(
      strand_, [weak = weak_from_this()](const boost::system::error_code& error) {
        const auto self = weak.lock();
        if (!error && self) self->Abort("a frame has not left within the write timeout");
      }));
}

void BoostSocket::Abort(const char* why) {
  if (aborted_ || stream_closed_) return;
  aborted_ = true;
  if (stall_timer_) stall_timer_->cancel();
  Logging::CreateLogger(L"Corvane::Client::BoostSocket")
      ->Log(Logging::LogLevel::Error, L"Closing a connection: %ls", Platform::FromUtf8(why).c_str());
  std::lock_guard<std::mutex> lock(stream_mutex_);
  boost::system::error_code ignored;
  // The reader sees the end of the stream and ends the connection; the write
  // in flight and those queued fail.
  stream_->shutdown(Stream::shutdown_both, ignored);
}

boost::asio::any_io_executor BoostSocket::GetExecutor() const { return stream_->get_executor(); }

bool BoostSocket::IsIoThread() const {
  if (strand_.running_in_this_thread()) return true;
  using IoExecutor = boost::asio::io_context::executor_type;
  const boost::asio::any_io_executor executor = stream_->get_executor();
  if (const auto* io = executor.target<IoExecutor>()) return io->running_in_this_thread();
  if (const auto* strand = executor.target<boost::asio::strand<IoExecutor>>()) {
    return strand->get_inner_executor().running_in_this_thread();
  }
  return false;
}

}  // namespace Client
}  // namespace Corvane
