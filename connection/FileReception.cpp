#include "connection/FileReception.h"

#include <exception>
#include <utility>

#include "connection/BinaryDataAckSendCommand.h"
#include "connection/ChunkWriter.h"
#include "connection/FileProgressReporter.h"
#include "connection/Connection.h"
#include "connection/FileWorkPool.h"
#include "platform/ErrorCode.h"
#include "connection/ListenerSlot.h"
#include "interface/Quellor.h"
#include "errors/ExceptionText.h"
#include "filestore/File.h"
#include "filestore/FileDelivery.h"
#include "filestore/FileFactory.h"
#include "filestore/FileName.h"
#include "logging/Logger.h"
#include "platform/FileIdentity.h"
#include "platform/FreeSpace.h"
#include "platform/TextConversion.h"
#include "protocol/BinaryDataMessage.h"
#include "protocol/ChecksumText.h"
#include "protocol/WireFormat.h"

namespace Corvane {
namespace Client {

using Logging::LogLevel;
using Platform::FromUtf16;

namespace {

const wchar_t kIncorrectChecksum[] = L"Incorrect Checksum";

// The most the connection reads of a file's data at once.
constexpr std::size_t kLargestRead = Wire::kBinaryDataChunkLength * sizeof(char16_t);

std::wstring WriteFailureText(const File::File& file, const std::wstring& reason) {
  return L"Error appending data to file \"" + file.GetPath() + L"\".  Error: " + reason;
}

void RemoveTemporaryFile(File::File& file, Logging::Logger& logger) {
  try {
    file.Remove();
  } catch (const std::exception& e) {
    logger.Log(LogLevel::Error, L"An error occured deleting %ls: %ls", file.GetPath().c_str(),
               ExceptionText(e).c_str());
  }
}

}  // namespace

FileReception::FileReception(std::shared_ptr<const ConnectionSettings> settings,
                             std::shared_ptr<FileWorkPool> pool)
    : file_(settings->fileFactory->NewFile()),
      settings_(std::move(settings)),
      pool_(std::move(pool)),
      logger_(Logging::CreateLogger(L"Corvane::Client::BinaryDataMessage")) {
  // Made as the header has been read: the body comes next.
  logger_->Log(LogLevel::Debug, L"Parsing body");
}

FileReception::~FileReception() {
  // A file dropped before it was answered (its connection ended mid-file)
  // ends its progress here; one handed over ends it with its BINACK.
  if (progress_ && !handed_over_) progress_->Finished(false, L"The connection ended before the file was complete");
  Drop();
}

void FileReception::Drop() {
  if (writer_) {
    writer_->Cancel();
    // Whoever lets go of the reception (the I/O thread, a connection that
    // ended mid-file) never waits for the disk: a write still in flight
    // removes the file on the pool once it is over.
    const bool removedLater =
        !handed_over_ && writer_->ThenRun([file = file_, logger = logger_] {
          RemoveTemporaryFile(*file, *logger);
        });
    writer_.reset();
    if (removedLater) return;
  }
  if (!handed_over_) RemoveFile();
}

void FileReception::ReportProgressTo(std::shared_ptr<ListenerSlot> listener,
                                     std::weak_ptr<Connection> connection) {
  progress_listener_ = std::move(listener);
  progress_connection_ = std::move(connection);
}

void FileReception::OnFileName(const BinaryDataMessage& message) {
  logger_->Log(LogLevel::Debug, L"Parsing file name");
  if (const auto connection = progress_listener_ ? progress_connection_.lock() : nullptr) {
    progress_ = std::make_shared<FileProgressReporter>(
        progress_listener_, connection->GetId(), connection->GetHealth(),
        FromUtf16(message.GetFileName()), static_cast<std::int64_t>(message.GetDataLength()));
  }
  std::wstring refused = File::CheckFileName(FromUtf16(message.GetFileName()));
  // Distinct names on the wire must stay distinct on disk: a lone surrogate
  // would be replaced, and two such names would land on one file.
  if (refused.empty() && Platform::HasUnpairedSurrogate(message.GetFileName())) {
    refused = L"Invalid file name: \"" + FromUtf16(message.GetFileName()) +
              L"\" (it holds an unpaired surrogate)";
  }
  if (!refused.empty()) {
    Fail(refused, /*onThisSide=*/false);
    return;
  }
  OpenFile(message.GetMessageId());
  if (failure_.empty() && settings_->minFreeBytes > 0) RefuseUnlessRoomFor(message);
  if (failure_.empty()) StartWriter(message);
}

void FileReception::StartWriter(const BinaryDataMessage& message) {
  if (static_cast<std::uint64_t>(message.GetDataLength()) <= ChunkWriter::kChunkBytes) return;
  if (!pool_) return;
  try {
    // Runs on the pool, and may outlive the reception.
    auto onFailure = [file = file_, logger = logger_](const std::wstring& reason) {
      // Logged, and the partial file removed, at once: a full disk wants its
      // space back while the rest of the data still arrives.
      logger->Log(LogLevel::Error, L"%ls", WriteFailureText(*file, reason).c_str());
      RemoveTemporaryFile(*file, *logger);
    };
    writer_ = std::make_unique<ChunkWriter>(pool_, file_, std::move(onFailure));
  } catch (const std::exception& e) {
    logger_->Log(LogLevel::Debug, L"Writing %ls as it arrives: no writer (%ls)",
                 file_->GetPath().c_str(), ExceptionText(e).c_str());
  }
}

void FileReception::RefuseUnlessRoomFor(const BinaryDataMessage& message) {
  // The file is written where temporary files are kept, then moved (or, on
  // another file system, copied) into the file directory: both must hold it,
  // beside what the other files under way have still to write there.
  const std::uint64_t size = static_cast<std::uint64_t>(message.GetDataLength());
  const std::wstring places[] = {file_->GetPath(), settings_->fileDirectory};
  std::vector<SpaceReservations::Place> measured;
  for (const std::wstring& place : places) {
    measured.push_back({Platform::FileIdentity::Of(place).device,
                        Platform::AvailableBytes(Platform::ToUtf8(place))});
  }
  std::size_t shortPlace = 0;
  std::uint64_t free = 0;
  reservation_ = SpaceReservations::Process().TryReserve(measured, size, settings_->minFreeBytes,
                                                         shortPlace, free);
  if (reservation_) return;
  Fail(L"Not enough free space for \"" + FromUtf16(message.GetFileName()) + L"\" (" +
           std::to_wstring(size) + L" bytes; " + std::to_wstring(free) + L" bytes free, " +
           std::to_wstring(settings_->minFreeBytes) + L" kept in reserve)",
       /*onThisSide=*/false);
}

void FileReception::OpenFile(const std::u16string& messageId) {
  const std::wstring id = FromUtf16(messageId);
  logger_->Log(LogLevel::Debug, L"Opening file for id %ls", id.c_str());
  try {
    file_->Open(File::TemporaryFileName(id));
  } catch (const std::exception& e) {
    Fail(L"Error opening file \"" + file_->GetPath() + L"\".  Error: " + ExceptionText(e),
         /*onThisSide=*/true);
  }
}

void FileReception::OnFileData(const BinaryDataMessage& message, const char* data,
                               std::size_t size) {
  if (logger_->IsEnabled(LogLevel::Debug)) {
    logger_->Log(LogLevel::Debug, L"Remaining data: %d.  Next buffer size: %d",
                 message.GetRemainingData(), message.GetRemainingLength());
  }
  if (reservation_) reservation_->Written(size);
  if (progress_) {
    progress_->Received(static_cast<std::int64_t>(message.GetDataLength()) -
                        message.GetRemainingData());
  }
  if (writer_) {
    writer_->Write(data, size);  // hashed and written on the pool
    return;
  }
  digest_.Update(reinterpret_cast<const CryptoPP::byte*>(data), size);
  // Once the name is refused or a write has failed, the rest of the data is
  // read only to keep the stream in step.
  if (!failure_.empty()) return;
  try {
    file_->Append(data, size);
  } catch (const std::exception& e) {
    FailWrite(ExceptionText(e));
  }
}

void FileReception::OnFileEnd(const BinaryDataMessage& /*message*/) {
  if (logger_->IsEnabled(LogLevel::Debug)) {
    logger_->Log(LogLevel::Debug, L"Closing file %ls", file_->GetPath().c_str());
  }
  if (writer_) {
    writer_->End();  // the pool does the rest and closes the file
  } else {
    file_->Close();
    // The last buffered bytes are written by Close, which keeps a failure
    // instead of throwing it.
    if (failure_.empty()) {
      const std::wstring lost = file_->GetWriteFailure();
      if (!lost.empty()) FailWrite(lost);
    }
    calculated_checksum_ = FinishChecksumText(digest_);
  }
  logger_->Log(LogLevel::Debug, L"Parsing checksum");
}

bool FileReception::MayReadMore(std::function<void()> resume) {
  return !writer_ || writer_->HasRoom(kLargestRead, std::move(resume));
}

bool FileReception::IsWritten() const { return !writer_ || writer_->IsDone(); }

std::u16string FileReception::GetCalculatedChecksum() const {
  return writer_ && writer_->IsDone() ? writer_->GetChecksum() : calculated_checksum_;
}

std::wstring FileReception::GetFailure() const {
  if (!failure_.empty() || !writer_ || !writer_->IsDone()) return failure_;
  const std::wstring lost = writer_->GetFailure();
  return lost.empty() ? lost : WriteFailureText(*file_, lost);
}

bool FileReception::FailedOnThisSide() const {
  if (!failure_.empty()) return failure_on_this_side_;
  return !GetFailure().empty();  // only the writer's own failure is left
}

void FileReception::FailWrite(const std::wstring& reason) {
  Fail(WriteFailureText(*file_, reason), /*onThisSide=*/true);
}

void FileReception::Fail(std::wstring text, bool onThisSide) {
  if (!failure_.empty()) return;
  failure_ = std::move(text);
  failure_on_this_side_ = onThisSide;
  logger_->Log(LogLevel::Error, L"%ls", failure_.c_str());
  // A partial file is of no use to anyone, and a full disk wants its space.
  RemoveFile();
}

void FileReception::RemoveFile() const { RemoveTemporaryFile(*file_, *logger_); }

bool FileReception::Deliver(std::shared_ptr<const BinaryDataMessage> message,
                            const std::shared_ptr<Connection>& connection) {
  handed_over_ = true;
  // The writer may still be writing the last chunks: the pool thread that
  // writes the last one goes on with the file, and the connection reads the
  // next frame only once they are written, as when the reader writes. No
  // pool thread ever waits for the writer: the check could otherwise take
  // the thread the writing waits for.
  if (writer_ && writer_->ThenRun([self = shared_from_this(), message, connection] {
        self->AfterWriter(message, connection);
      })) {
    return false;
  }
  ReportFailure(connection);
  try {
    // While its file waits for a free thread, the connection reads no more:
    // a peer cannot queue more work than the threads take.
    const auto outcome = connection->GetFileWorkPool()->Launch(
        [self = shared_from_this(), message, connection] { self->Finish(message, connection); },
        [connection] { connection->ResumeReading(); });
    if (outcome == FileWorkPool::Outcome::kRefused) {
      // The engine is going away; nobody is left to answer.
      logger_->Log(LogLevel::Debug,
                   L"BinaryDataMessage::Process -> shutting down, so deleting temporary file");
      writer_.reset();  // stopped before its file goes
      RemoveFile();
    }
    return outcome != FileWorkPool::Outcome::kWaiting;
  } catch (const std::exception& e) {
    const std::wstring text = L"The file could not be processed: " + ExceptionText(e);
    logger_->Log(LogLevel::Error, L"BinaryDataMessage::Process %ls", text.c_str());
    writer_.reset();
    RemoveFile();
    Answer(message, connection, text, nullptr);
  }
  return true;
}

void FileReception::AfterWriter(const std::shared_ptr<const BinaryDataMessage>& message,
                                const std::shared_ptr<Connection>& connection) {
  ReportFailure(connection);
  connection->ResumeReading();
  Finish(message, connection);
}

void FileReception::ReportFailure(const std::shared_ptr<Connection>& connection) const {
  if (!FailedOnThisSide()) return;
  // The disk failed, not the sender: the host hears of it as of any frame
  // that could not be read.
  const std::wstring text = L"Error on socket read.  Error message = \"" + GetFailure() + L"\"";
  if (const auto& listener = connection->GetListener()) {
    listener->Notify([&](QuellorListener& host) { host.OnError(Platform::ToInt(Errc::kSocketReadError), text); });
  }
}

void FileReception::Finish(const std::shared_ptr<const BinaryDataMessage>& message,
                           const std::shared_ptr<Connection>& connection) const {
  if (connection->IsClosed()) {
    logger_->Log(LogLevel::Debug,
                 L"BinaryDataMessage::ProcessData -> no connection, so deleting temporary file");
    if (progress_) progress_->Finished(false, L"The connection ended before the file was answered");
    RemoveFile();
    return;
  }
  std::wstring errorText;
  std::shared_ptr<File::FileDelivery> delivery;
  const std::wstring failure = GetFailure();
  if (!failure.empty()) {
    errorText = failure;  // already logged; nothing is left on disk
    RemoveFile();
  } else {
    const std::wstring& directory = settings_->fileDirectory;
    const std::wstring name = FromUtf16(message->GetFileName());
    try {
      const std::u16string calculated = GetCalculatedChecksum();
      if (calculated == message->GetExpectedChecksum()) {
        if (logger_->IsEnabled(LogLevel::Debug)) {
          logger_->Log(LogLevel::Debug, L"Moving file %ls to %ls %ls", file_->GetPath().c_str(),
                       directory.c_str(), name.c_str());
        }
        // Owns the name until the BINACK's outcome: waits here for another
        // delivery of the same name to be answered.
        delivery = std::make_shared<File::FileDelivery>(
            directory, name, 2 * settings_->ackTimeout);
        delivery->Move(*file_);
        logger_->Log(LogLevel::Debug, L"Finished moving file");
      } else {
        logger_->Log(LogLevel::Error,
                     L"Incorrect Checksum for file %ls : calculated=[%ls] : expected=[%ls]",
                     file_->GetPath().c_str(), FromUtf16(calculated).c_str(),
                     FromUtf16(message->GetExpectedChecksum()).c_str());
        file_->Remove();
        errorText = kIncorrectChecksum;
      }
    } catch (const std::exception& e) {
      delivery.reset();  // nothing was moved: the name is free again
      RemoveFile();      // and nothing is kept that the sender still has
      errorText = ExceptionText(e);
      logger_->Log(LogLevel::Error, L"Error occured moving file %ls to %ls/%ls.  Error message: %ls",
                   file_->GetPath().c_str(), directory.c_str(), name.c_str(), errorText.c_str());
    }
  }
  Answer(message, connection, errorText, std::move(delivery));
}

void FileReception::Answer(const std::shared_ptr<const BinaryDataMessage>& message,
                           const std::shared_ptr<Connection>& connection,
                           const std::wstring& errorText,
                           std::shared_ptr<File::FileDelivery> delivery) const {
  std::make_shared<BinaryDataAckSendCommand>(connection->GetSocket(), message, errorText, file_,
                                             std::move(delivery), connection->GetListener(),
                                             connection->GetName(), progress_)
      ->Run();
}

}  // namespace Client
}  // namespace Corvane
