#include "protocol/BinaryDataMessage.h"

#include "protocol/ChecksumText.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "connection/BinaryDataAckSendCommand.h"
#include "connection/Connection.h"
#include "connection/FileProcessingThreads.h"
#include "engine/EngineErrors.h"
#include "engine/ListenerSlot.h"
#include "engine/Quellor.h"
#include "errors/ExceptionText.h"
#include "filestore/File.h"
#include "filestore/FileFactory.h"
#include "filestore/FileName.h"
#include "filestore/ProcessFileFactory.h"
#include "logging/Logger.h"
#include "platform/TextConversion.h"
#include "protocol/FieldCodec.h"
#include "protocol/WireFormat.h"

namespace Corvane {
namespace Client {

// The data characters' memory is the file's bytes in order (low half first)
// only on a little-endian machine.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "BINDATA data is taken from the characters' memory as it stands");

using Logging::LogLevel;
using Platform::FromUtf16;
using Platform::FromUtf8;

namespace {

const wchar_t kIncorrectChecksum[] = L"Incorrect Checksum";

}  // namespace

BinaryDataMessage::BinaryDataMessage()
    : remaining_length_(Wire::kBinaryDataFixedLength),
      file_(File::ProcessFileFactory()->NewFile()),
      logger_(Logging::CreateLogger(L"Corvane::Client::BinaryDataMessage")) {}

BinaryDataMessage::~BinaryDataMessage() {
  if (!handed_over_) RemoveFile();
}

int BinaryDataMessage::GetRemainingLength() const { return remaining_length_; }

void BinaryDataMessage::Parse(const std::u16string& chunk) {
  switch (parse_state_) {
    case kFixedPart:
      ParseFixedPart(chunk);
      break;
    case kFileName:
      ParseFileName(chunk);
      break;
    case kData:
      ParseData(chunk);
      break;
    case kChecksum:
      ParseChecksum(chunk);
      break;
    default:
      break;  // complete: there is nothing more to read
  }
}

void BinaryDataMessage::RequireRemainingLength(const std::u16string& chunk) const {
  if (chunk.size() != static_cast<std::size_t>(remaining_length_)) {
    throw QuellorException(L"BINDATA expected " + Wire::ToDecimal(remaining_length_) +
                               L" characters but got " +
                               Wire::ToDecimal(static_cast<long long>(chunk.size())) + L".",
                           Wire::kErrorParse);
  }
}

void BinaryDataMessage::ParseFixedPart(const std::u16string& chunk) {
  digest_.Restart();
  logger_->Log(LogLevel::Debug, L"Parsing body");
  RequireRemainingLength(chunk);

  const std::u16string nameField =
      Wire::Field(chunk, Wire::kMessageIdWidth, Wire::kBinaryDataFileNameLengthWidth);
  // The 5-digit field bounds the name, so it is always read whole: the data
  // behind it stays in step even when the name cannot be stored.
  int nameLength = 0;
  if (!Wire::ReadNumber(nameField, nameLength) || nameLength < Wire::kMinFileNameLength) {
    throw QuellorException(FromUtf16(nameField) + L" is not a valid file name length.",
                           Wire::kErrorParse);
  }
  const std::u16string dataField =
      Wire::Field(chunk, Wire::kMessageIdWidth + Wire::kBinaryDataFileNameLengthWidth,
                  Wire::kBinaryDataLengthWidth);
  int dataLength = 0;
  if (!Wire::ReadNumber(dataField, dataLength) || dataLength < 0) {
    throw QuellorException(FromUtf16(dataField) + L" is not a valid data length.",
                           Wire::kErrorParse);
  }

  message_id_ = Wire::ReadText(chunk, 0, Wire::kMessageIdWidth);
  file_name_length_ = nameLength;
  data_length_ = dataLength;
  odd_length_ = dataLength % 2 != 0;
  remaining_data_ = dataLength / 2 + (odd_length_ ? 1 : 0);
  remaining_length_ = nameLength;
  parse_state_ = kFileName;
}

void BinaryDataMessage::ParseFileName(const std::u16string& chunk) {
  logger_->Log(LogLevel::Debug, L"Parsing file name");
  RequireRemainingLength(chunk);
  file_name_ = Wire::Trim(chunk);
  const std::wstring refused = File::CheckFileName(FromUtf16(file_name_));
  if (!refused.empty()) {
    Fail(refused, /*onThisSide=*/false);
  } else {
    OpenFile();
  }
  remaining_length_ = std::min(remaining_data_, Wire::kBinaryDataChunkLength);
  if (remaining_data_ == 0) {
    FinishData();  // an empty file: the checksum follows at once
  } else {
    parse_state_ = kData;
  }
}

void BinaryDataMessage::OpenFile() {
  const std::wstring id = FromUtf16(message_id_);
  logger_->Log(LogLevel::Debug, L"Opening file for id %ls", id.c_str());
  try {
    file_->Open(File::TemporaryFileName(id));
  } catch (const std::exception& e) {
    Fail(L"Error opening file \"" + file_->GetPath() + L"\".  Error: " + ExceptionText(e),
         /*onThisSide=*/true);
  }
}

void BinaryDataMessage::ParseData(const std::u16string& chunk) {
  RequireRemainingLength(chunk);
  remaining_data_ -= static_cast<int>(chunk.size());
  remaining_length_ = std::min(remaining_data_, Wire::kBinaryDataChunkLength);
  if (logger_->IsEnabled(LogLevel::Debug)) {
    logger_->Log(LogLevel::Debug, L"Remaining data: %d.  Next buffer size: %d", remaining_data_,
                 remaining_length_);
  }
  std::size_t bytes = chunk.size() * sizeof(char16_t);
  if (remaining_length_ == 0 && odd_length_) --bytes;  // the padding byte
  const char* data = reinterpret_cast<const char*>(chunk.data());
  digest_.Update(reinterpret_cast<const CryptoPP::byte*>(data), bytes);
  // Once the name is refused or a write has failed, the rest of the data is
  // read only to keep the stream in step.
  if (failure_.empty()) {
    try {
      file_->Append(data, bytes);
    } catch (const std::exception& e) {
      FailWrite(ExceptionText(e));
    }
  }
  if (remaining_length_ == 0) FinishData();
}

void BinaryDataMessage::FinishData() {
  if (logger_->IsEnabled(LogLevel::Debug)) {
    logger_->Log(LogLevel::Debug, L"Closing file %ls", file_->GetPath().c_str());
  }
  parse_state_ = kChecksum;
  file_->Close();
  // The last buffered bytes are written by Close, which keeps a failure
  // instead of throwing it.
  if (failure_.empty()) {
    const std::wstring lost = file_->GetWriteFailure();
    if (!lost.empty()) FailWrite(lost);
  }
  calculated_checksum_ = FinishChecksumText(digest_);
  remaining_length_ = Wire::kBinaryDataChecksumLength;
}

void BinaryDataMessage::ParseChecksum(const std::u16string& chunk) {
  logger_->Log(LogLevel::Debug, L"Parsing checksum");
  RequireRemainingLength(chunk);
  expected_checksum_ = chunk.substr(0, Wire::kBinaryDataChecksumLength);
  remaining_length_ = 0;
  parse_state_ = kComplete;
}

void BinaryDataMessage::FailWrite(const std::wstring& reason) {
  Fail(L"Error appending data to file \"" + file_->GetPath() + L"\".  Error: " + reason,
       /*onThisSide=*/true);
}

void BinaryDataMessage::Fail(std::wstring text, bool onThisSide) {
  if (!failure_.empty()) return;
  failure_ = std::move(text);
  failure_on_this_side_ = onThisSide;
  logger_->Log(LogLevel::Error, L"%ls", failure_.c_str());
  // A partial file is of no use to anyone, and a full disk wants its space.
  RemoveFile();
}

void BinaryDataMessage::RemoveFile() const {
  try {
    file_->Remove();
  } catch (const std::exception& e) {
    logger_->Log(LogLevel::Error, L"An error occured deleting %ls: %ls", file_->GetPath().c_str(),
                 ExceptionText(e).c_str());
  }
}

std::u16string BinaryDataMessage::ToString() const {
  throw QuellorException(L"Not implemented", Wire::kErrorNotImplemented);
}

std::u16string BinaryDataMessage::GetMessageId() const { return message_id_; }

int BinaryDataMessage::GetProtocolVersion() const { return 2; }

bool BinaryDataMessage::SupportsProtocolVersion(int version) const { return version == 2; }

bool BinaryDataMessage::Process(const std::shared_ptr<Connection>& connection) {
  handed_over_ = true;
  if (failure_on_this_side_) {
    // The disk failed, not the sender: the host hears of it as of any frame
    // that could not be read.
    const std::wstring text = L"Error on socket read.  Error message = \"" + failure_ + L"\"";
    if (const auto& listener = connection->GetListener()) {
      listener->Notify([&](QuellorListener& host) { host.OnError(kSocketReadError, text); });
    }
  }
  auto self = shared_from_this();
  try {
    const bool started = connection->GetFileProcessingThreads()->Launch(
        [self, connection] { self->ProcessData(connection); });
    if (!started) {
      // The engine is going away; nobody is left to answer.
      logger_->Log(LogLevel::Debug,
                   L"BinaryDataMessage::Process -> shutting down, so deleting temporary file");
      RemoveFile();
    }
  } catch (const std::exception& e) {
    const std::wstring text = L"The file could not be processed: " + ExceptionText(e);
    logger_->Log(LogLevel::Error, L"BinaryDataMessage::Process %ls", text.c_str());
    RemoveFile();
    Answer(connection, text);
  }
  return true;
}

void BinaryDataMessage::ProcessData(const std::shared_ptr<Connection>& connection) const {
  if (connection->IsClosed()) {
    logger_->Log(LogLevel::Debug,
                 L"BinaryDataMessage::ProcessData -> no connection, so deleting temporary file");
    RemoveFile();
    return;
  }
  std::wstring errorText;
  if (!failure_.empty()) {
    errorText = failure_;  // already logged; nothing is left on disk
    RemoveFile();
  } else {
    const std::wstring directory = connection->GetFileDirectory();
    const std::wstring name = FromUtf16(file_name_);
    try {
      if (calculated_checksum_ == expected_checksum_) {
        if (logger_->IsEnabled(LogLevel::Debug)) {
          logger_->Log(LogLevel::Debug, L"Moving file %ls to %ls %ls", file_->GetPath().c_str(),
                       directory.c_str(), name.c_str());
        }
        file_->MoveTo(directory, name);
        logger_->Log(LogLevel::Debug, L"Finished moving file");
      } else {
        logger_->Log(LogLevel::Error,
                     L"Incorrect Checksum for file %ls : calculated=[%ls] : expected=[%ls]",
                     file_->GetPath().c_str(), FromUtf16(calculated_checksum_).c_str(),
                     FromUtf16(expected_checksum_).c_str());
        file_->Remove();
        errorText = kIncorrectChecksum;
      }
    } catch (const std::exception& e) {
      errorText = ExceptionText(e);
      logger_->Log(LogLevel::Error, L"Error occured moving file %ls to %ls/%ls.  Error message: %ls",
                   file_->GetPath().c_str(), directory.c_str(), name.c_str(), errorText.c_str());
    }
  }
  Answer(connection, errorText);
}

void BinaryDataMessage::Answer(const std::shared_ptr<Connection>& connection,
                               const std::wstring& errorText) const {
  std::make_shared<BinaryDataAckSendCommand>(connection->GetSocket(), shared_from_this(), errorText,
                                             file_, connection->GetListener(),
                                             connection->GetName())
      ->Run();
}

}  // namespace Client
}  // namespace Corvane
