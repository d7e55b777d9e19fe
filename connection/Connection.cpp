#include "connection/Connection.h"

#include <algorithm>
#include <cassert>
#include <new>

#include <boost/asio/error.hpp>
#include <boost/asio/post.hpp>

#include "connection/ConnectionHandshake.h"
#include "connection/ConnectionListener.h"
#include "connection/DisconnectSendCommand.h"
#include "connection/FileWorkPool.h"
#include "connection/HealthCheckSendCommand.h"
#include "connection/LinkHealth.h"
#include "connection/XmlDataSendCommand.h"
#include "connection/ListenerSlot.h"
#include "errors/DescribeError.h"
#include "errors/ExceptionText.h"
#include "logging/Logger.h"
#include "platform/EngineError.h"
#include "platform/TextConversion.h"
#include "protocol/ConnectMessage.h"
#include "protocol/FrameParser.h"
#include "protocol/WireFormat.h"
#include "protocol/XmlDataMessage.h"

namespace Corvane {
namespace Client {

using Logging::LogLevel;
using Platform::FromUtf16;
using Platform::FromUtf8;
using Platform::ToUtf16;

namespace {

// A piece buffer grown beyond this for one large message is released after
// it, so an idle connection keeps no large allocation.
constexpr std::size_t kRetainedBodyCapacity = 64 * 1024;
// Bodies longer than this are read in pieces of it.
constexpr std::size_t kBodyPieceLength = 64 * 1024;
// What a receive may take beyond the step being read while a file's data
// streams to its writer: one receive then serves several steps, each read on
// at once without the I/O queue or a deadline to arm.
constexpr std::size_t kFileReadAhead = 64 * 1024;

}  // namespace

Connection::Connection(std::shared_ptr<Socket> socket, std::shared_ptr<ListenerSlot> listener,
                       ConnectionListener* connectionListener, ConnectionSettings settings,
                       ConnectionKind kind, std::shared_ptr<FileWorkPool> fileThreads,
                       std::shared_ptr<void> ioOwner)
    : Connection(std::move(socket), std::move(listener), connectionListener,
                 std::make_shared<const ConnectionSettings>(std::move(settings)), kind,
                 std::move(fileThreads), std::move(ioOwner)) {}

Connection::Connection(std::shared_ptr<Socket> socket, std::shared_ptr<ListenerSlot> listener,
                       ConnectionListener* connectionListener,
                       std::shared_ptr<const ConnectionSettings> settings, ConnectionKind kind,
                       std::shared_ptr<FileWorkPool> fileThreads, std::shared_ptr<void> ioOwner)
    : io_owner_(std::move(ioOwner)),
      socket_(std::move(socket)),
      settings_(std::move(settings)),
      kind_(kind),
      dispatcher_(settings_, fileThreads),
      logger_(Logging::CreateLogger(L"Corvane::Client::Connection")),
      listener_(std::move(listener)),
      connection_listener_(connectionListener),
      transactions_(socket_),
      file_threads_(std::move(fileThreads)),
      frame_timer_(socket_->GetExecutor()) {
  health_ = std::make_shared<LinkHealth>();
}

Connection::~Connection() {
  if (socket_->IsOpen()) EndOnce(Farewell::kDisconnect, DepartureReason::kEngineStopped);
  connection_listener_ = nullptr;
}

std::shared_ptr<Socket> Connection::GetSocket() const { return socket_; }

std::shared_ptr<HealthCheckSendCommand> Connection::GetHealthCheckCommand() const {
  std::lock_guard<std::mutex> lock(commands_mutex_);
  return health_check_;
}

std::shared_ptr<LinkHealth> Connection::GetHealth() const { return std::atomic_load(&health_); }

void Connection::ShareHealth(std::shared_ptr<LinkHealth> health) {
  if (health) std::atomic_store(&health_, std::move(health));
}

ApplicationInfo Connection::GetInfo() {
  return ApplicationInfo{application_id_, application_name_, application_address_, version_};
}

std::shared_ptr<XmlDataSendCommand> Connection::GetXmlDataSendCommand() const {
  return transactions_.Current();
}

// --- Handshake --------------------------------------------------------------

void Connection::Start(HandshakeHandler done) {
  logger_->Log(LogLevel::Debug, L"Start: Starting %ls connection", KindText());
  std::make_shared<ConnectionHandshake>(socket_, settings_)
      ->Start([self = shared_from_this(), done = std::move(done)](
                  ConnectionHandshake::Outcome outcome) mutable {
        self->OnHandshakeEnded(std::move(outcome), std::move(done));
      });
}

void Connection::OnHandshakeEnded(ConnectionHandshake::Outcome outcome, HandshakeHandler done) {
  if (const auto& connect = outcome.connect) {
    application_id_ = FromUtf16(connect->GetApplicationId());
    application_name_ = FromUtf16(connect->GetApplicationName());
    application_address_ = FromUtf16(connect->GetApplicationAddress());
  }
  if (outcome.refused) {
    refused_ = true;
    EndOnce(Farewell::kNone, DepartureReason::kClosedAtLimit);
  } else if (!outcome.failure) {
    dispatcher_.ReportProgressTo(listener_, weak_from_this());
  }
  FinishHandshake(outcome.failure, std::move(done));
}

void Connection::FinishHandshake(const std::exception_ptr& failure, HandshakeHandler done) {
  assert(socket_->IsIoThread());
  auto self = shared_from_this();
  if (!failure) {
    if (!IsFileConnection()) {
      auto check = std::make_shared<HealthCheckSendCommand>(
          self, socket_, settings_->healthCheckInterval, settings_->ackTimeout);
      {
        std::lock_guard<std::mutex> lock(commands_mutex_);
        health_check_ = check;
      }
      check->Run();
      // An End that came meanwhile may have missed the command.
      if (ended_) check->Cancel();
    }
    ReadHeader();
  }
  if (done) done(self, failure);
}

// --- Read loop ----------------------------------------------------------------

void Connection::ResumeReading() {
  boost::asio::post(socket_->GetExecutor(), [self = shared_from_this()] { self->ReadHeader(); });
}

void Connection::StopReading() {
  body_claim_.Release();
  parser_.Reset();
  reading_piece_ = false;
  dispatcher_.Reset();
}

void Connection::ReadHeader() {
  assert(socket_->IsIoThread());
  StopReading();
  if (ended_) return;
  socket_->SetReadAhead(0);
  if (settings_->idleTimeout.count() > 0) ArmIdleDeadline();
  socket_->AsyncRead(parser_.StepBuffer(), [self = shared_from_this()](
                                               const boost::system::error_code& error,
                                               std::size_t bytes) { self->OnRead(error, bytes); });
}

void Connection::ReadBody() {
  assert(socket_->IsIoThread());
  // A file whose writing is behind holds the reading back until it catches
  // up: no deadline runs meanwhile, the peer is not the one late.
  if (!dispatcher_.MayReadBody([weak = weak_from_this()] {
        if (const auto self = weak.lock()) self->ResumeBody();
      })) {
    return;
  }
  if (parser_.Wanted() <= kBodyPieceLength) {
    if (dispatcher_.IsStreamingFile()) socket_->SetReadAhead(kFileReadAhead);
    // A run of one piece is read in place, straight into the parser's step.
    std::u16string& step = parser_.StepBuffer();
    // A small frame mostly arrives whole with its header: read on at once,
    // with no deadline to arm and no trip through the I/O queue.
    if (socket_->ReadReceived(step)) {
      OnRead(boost::system::error_code(), step.size() * sizeof(char16_t));
      return;
    }
    ArmFrameDeadline();
    socket_->AsyncRead(step, [self = shared_from_this()](const boost::system::error_code& error,
                                                         std::size_t bytes) {
      self->OnRead(error, bytes);
    });
    return;
  }
  // The length comes from the peer: the parser's step grows as characters
  // arrive, never by what was announced.
  ReadBodyPiece();
}

void Connection::ResumeBody() {
  boost::asio::post(socket_->GetExecutor(), [self = shared_from_this()] {
    // Ended meanwhile: the message half read goes, and with it its file.
    if (self->ended_) {
      self->StopReading();
      return;
    }
    self->ReadBody();
  });
}

void Connection::ReadBodyPiece() {
  const std::size_t piece = std::min(parser_.Wanted(), kBodyPieceLength);
  ArmFrameDeadline();
  piece_buffer_.resize(piece);
  reading_piece_ = true;
  socket_->AsyncRead(piece_buffer_, [self = shared_from_this()](
                                        const boost::system::error_code& error,
                                        std::size_t bytes) { self->OnBodyPiece(error, bytes); });
}

void Connection::OnBodyPiece(const boost::system::error_code& error, std::size_t bytes) {
  assert(socket_->IsIoThread());
  // Pieces before the last are only collected; the last one completes the
  // step, which ReadFrame hands to the message.
  if (!error) GetHealth()->OnBytesReceived(bytes);
  if (!error && !ended_ && piece_buffer_.size() < parser_.Wanted()) {
    try {
      std::size_t used = 0;
      parser_.Push(piece_buffer_, used);
    } catch (const std::bad_alloc&) {
      FailRead(L"Error on socket read.  Out of memory reading a frame");
      return;
    }
    if (!ClaimBody()) return;
    ReadBodyPiece();
    return;
  }
  OnRead(error, bytes);
}

void Connection::ArmFrameDeadline() {
  // A frame begun must go on arriving: a peer that stops in the middle of one
  // would otherwise hold its buffer, and the stream, for ever.
  frame_timer_.expires_after(settings_->ackTimeout);
  frame_timer_.async_wait([weak = weak_from_this()](const boost::system::error_code& error) {
    const auto self = weak.lock();
    if (error || !self) return;
    self->FailRead(L"Error on socket read.  No data arrived for " +
                   std::to_wstring(self->settings_->ackTimeout.count()) +
                   L" ms in the middle of a frame");
  });
}

void Connection::ArmIdleDeadline() {
  // A connection that only waits (a file connection carries no health
  // checks) must not hold its descriptor for ever.
  frame_timer_.expires_after(settings_->idleTimeout);
  frame_timer_.async_wait([weak = weak_from_this()](const boost::system::error_code& error) {
    const auto self = weak.lock();
    if (error || !self || self->ended_) return;
    self->logger_->Log(LogLevel::Info, L"Closing %ls connection of %ls: idle for %lld ms",
                       self->KindText(), self->application_name_.c_str(),
                       static_cast<long long>(self->settings_->idleTimeout.count()));
    self->End(Farewell::kDisconnect, DepartureReason::kClosedAtLimit);
  });
}

void Connection::FailRead(const std::wstring& text) {
  if (ended_) return;
  ReportReadError(text);
  End(Farewell::kDisconnect, DepartureReason::kClosedAtLimit);
}

bool Connection::ClaimBody() {
  const auto& budget = settings_->bodyBudget;
  if (!budget) return true;
  const std::uint64_t held = parser_.Collected().size() * sizeof(char16_t);
  if (budget->TryGrow(body_claim_, held)) return true;
  StopReading();
  const std::wstring text = L"Error on socket read.  The memory for frames being read (" +
                            std::to_wstring(budget->Limit() >> 20) +
                            L" MiB) is used up; closing the connection of " + application_name_;
  listener_->Notify([&](QuellorListener& listener) {
    listener.OnError(Platform::ToInt(Errc::kSocketReadError), text);
  });
  if (budget->ShouldLogRefusal()) {
    logger_->Log(LogLevel::Error, L"%ls (further refusals are not logged for a minute)",
                 text.c_str());
  }
  End(Farewell::kDisconnect, DepartureReason::kClosedAtLimit);
  return false;
}

void Connection::OnRead(const boost::system::error_code& error, std::size_t bytes) {
  assert(socket_->IsIoThread());
  frame_timer_.cancel();
  // A body read in pieces has counted them already (OnBodyPiece).
  if (!error && !reading_piece_) GetHealth()->OnBytesReceived(bytes);
  // An ended connection reads no more, whatever arrives, and lets go of a
  // message half read (a file's reception removes its temporary file).
  if (ended_ || (error && OnReadError(error))) {
    StopReading();
    return;
  }
  if (error) {
    ReadHeader();
    return;
  }
  consecutive_read_errors_ = 0;
  try {
    ReadFrame();
  } catch (const std::bad_alloc&) {
    // Whatever the peer announced, running out of memory ends its connection,
    // never the engine's run.
    StopReading();
    FailRead(L"Error on socket read.  Out of memory reading a frame");
  }
}

void Connection::LogStep() {
  const std::shared_ptr<IntegrationMessage>& message = parser_.Message();
  if (!message) {
    logger_->Log(LogLevel::Debug, L"HandleRead: Read header: %ls",
                 FromUtf16(parser_.Collected()).c_str());
  } else if (message->GetType() == MessageType::kBinaryData) {
    // A file's bytes are no text: log how much came, not what.
    logger_->Log(LogLevel::Debug, L"HandleRead: Read body: %d characters of file data",
                 static_cast<int>(reading_piece_ ? parser_.Collected().size() + piece_buffer_.size()
                                                 : parser_.Collected().size()));
  } else {
    logger_->Log(LogLevel::Debug, L"HandleRead: Read body: %ls",
                 FromUtf16(reading_piece_ ? parser_.Collected() + piece_buffer_
                                          : parser_.Collected())
                     .c_str());
  }
}

void Connection::ReadFrame() {
  if (logger_->IsEnabled(LogLevel::Debug)) LogStep();
  FrameParser::Result result = FrameParser::Result::kBad;
  std::wstring failure;
  try {
    if (reading_piece_) {
      reading_piece_ = false;
      std::size_t used = 0;
      result = parser_.Push(piece_buffer_, used);
      if (piece_buffer_.capacity() > kRetainedBodyCapacity) std::u16string().swap(piece_buffer_);
    } else {
      result = parser_.StepFilled();
    }
    if (result == FrameParser::Result::kHeader) {
      dispatcher_.OnHeader(*parser_.Message());
      // A message without a body is complete with its header.
      std::size_t used = 0;
      result = parser_.Push(nullptr, 0, used);
    }
    if (result == FrameParser::Result::kBad) failure = parser_.ErrorText();
  } catch (const Platform::WideError& e) {
    // A file's sink that cannot go on fails the frame as a bad field does.
    result = FrameParser::Result::kBad;
    failure = e.GetMessage();
  }
  if (result == FrameParser::Result::kBad) {
    // An occasional bad frame is reported and read past; a stream of nothing
    // else is no peer worth reading, nor worth a report per frame.
    ++bad_frames_in_row_;
    const std::wstring text = L"Error on socket read.  Error message = \"" + failure + L"\"";
    if (bad_frames_in_row_ >= kMaxBadFramesInRow) {
      StopReading();
      FailRead(L"Error on socket read.  " + std::to_wstring(kMaxBadFramesInRow) +
               L" frames in a row could not be read; closing the connection");
      return;
    }
    if (bad_frames_in_row_ <= kReportedBadFramesInRow) {
      ReportReadError(text);
    } else {
      logger_->Log(LogLevel::Debug, L"%ls", text.c_str());
    }
    ReadHeader();
    return;
  }
  if (result == FrameParser::Result::kNeedMore) {
    if (ClaimBody()) ReadBody();
    return;
  }
  const std::shared_ptr<IntegrationMessage> message = parser_.TakeMessage();
  bad_frames_in_row_ = 0;
  GetHealth()->OnFrameReceived();
  bool goOn = true;
  try {
    goOn = dispatcher_.Dispatch(message, shared_from_this());
  } catch (const std::exception& e) {
    logger_->Log(LogLevel::Error, L"HandleRead: processing a message failed: %ls",
                 ExceptionText(e).c_str());
  }
  if (goOn) ReadHeader();
}

bool Connection::OnReadError(const boost::system::error_code& error) {
  namespace asio_error = boost::asio::error;
  if (error == asio_error::operation_aborted || error == asio_error::bad_descriptor) return true;
  if (error == asio_error::eof) {
    End(Farewell::kNone, DepartureReason::kDisconnected);
    return true;
  }
  if (error == asio_error::connection_reset || error == asio_error::connection_aborted) {
    End(Farewell::kNone, DepartureReason::kConnectionLost);
    return true;
  }
  ReportReadError(L"Error on socket read.  " + FromUtf8(DescribeError(error)));
  // A socket that keeps failing would otherwise be read, and reported, forever.
  if (++consecutive_read_errors_ >= kMaxConsecutiveReadErrors) {
    End(Farewell::kNone, DepartureReason::kConnectionLost);
    return true;
  }
  return false;
}

void Connection::ReportReadError(const std::wstring& text) {
  listener_->Notify([&](QuellorListener& listener) { listener.OnError(Platform::ToInt(Errc::kSocketReadError), text); });
  logger_->Log(LogLevel::Error, L"%ls", text.c_str());
}

// --- Ending ---------------------------------------------------------------------

bool Connection::EndOnce(Farewell farewell, DepartureReason reason) {
  std::lock_guard<std::mutex> lock(end_mutex_);
  if (ended_.exchange(true)) return false;
  end_reason_ = reason;
  logger_->Log(LogLevel::Debug, L"Stop: Closing %ls connection", KindText());
  if (auto check = GetHealthCheckCommand()) check->Cancel();
  // A transaction waiting for its XMLACK would otherwise wait out the timeout.
  transactions_.OnConnectionEnded();
  if (socket_->IsOpen()) {
    if (farewell == Farewell::kDisconnect) {
      std::make_shared<DisconnectSendCommand>(socket_)->Run();
    }
    socket_->CloseAfterWrites(settings_->ackTimeout);
  }
  return true;
}

void Connection::End(Farewell farewell) {
  End(farewell, farewell == Farewell::kNone ? DepartureReason::kDisconnected
                                            : DepartureReason::kClosedAtLimit);
}

void Connection::End(Farewell farewell, DepartureReason reason) {
  // Only the call that actually ends the connection reports it, so the
  // engine hears of each connection's end once.
  if (!EndOnce(farewell, reason)) return;
  if (ConnectionListener* listener = connection_listener_.load()) {
    listener->ConnectionClosed(shared_from_this());
  }
}

bool Connection::IsClosed() { return !socket_->IsOpen(); }

// --- Sending --------------------------------------------------------------------

bool Connection::SendData(const std::wstring& xml) {
  return SendMessage(std::make_shared<XmlDataMessage>(ToUtf16(xml)));
}

bool Connection::SendMessage(std::shared_ptr<XmlDataMessage> message) {
  PendingSend pending = StartSend(std::move(message));
  return FinishSend(pending);
}

Connection::PendingSend Connection::StartSend(std::shared_ptr<XmlDataMessage> message,
                                              std::shared_ptr<SendGroup> group) {
  return PendingSend{transactions_.Begin(std::move(message),
                                         settings_->ackTimeout,
                                         version_, std::move(group))};
}

bool Connection::FinishSend(const PendingSend& pending, SendOutcome* outcome) {
  try {
    pending.command->Finish();
    const auto health = GetHealth();
    health->OnXmlSent();
    const auto roundTrip = pending.command->RoundTrip();
    if (roundTrip.count() >= 0) health->OnXmlAcknowledged(roundTrip);
    return true;
  } catch (const EngineError& e) {
    logger_->Log(LogLevel::Error, L"%ls", e.GetMessage().c_str());
    if (e.Code() == Errc::kNotAcknowledged) GetHealth()->OnAcknowledgementMissed();
    if (outcome) {
      // A write that did not complete in time fails without a code of its own.
      outcome->status = e.GetCode() != 0 ? e.GetCode() : Platform::ToInt(Errc::kSendFailed);
      outcome->message = !e.GetMessage().empty() ? e.GetMessage()
                                                 : L"The XMLDATA could not be written in time";
    }
    return false;
  }
}

}  // namespace Client
}  // namespace Corvane
