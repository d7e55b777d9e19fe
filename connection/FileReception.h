#pragma once
// Receives one BINDATA's file on a file connection: writes the bytes into a
// temporary file while the frame is read, with the running SHA-1; then, once
// the frame is complete, checks the file on the file work pool, moves it into
// the file directory and answers with the BINACK.
//
// Failures while reading never fail the frame, so the stream stays in step
// and the sender still gets its BINACK. From the failure on, the data is
// still hashed but no longer written:
//  - a file name that cannot be stored (File::CheckFileName: it would choose
//    a directory, or is over 255 bytes in UTF-8) is refused: nothing is
//    written, and the BINACK carries flag 0 and the text "Invalid file name:
//    \"<name>\"" or "File name is too long: \"<name>\" (<n> bytes; the limit
//    is 255)".
//  - a temporary file that cannot be opened or written (including the last
//    buffered bytes, written when it is closed): the error is logged, the
//    partial file is removed at once, and the BINACK carries flag 0 and the
//    text "Error opening file \"<path>\".  Error: <text>" or "Error appending
//    data to file \"<path>\".  Error: <text>". This failure is the engine's,
//    so Deliver also reports it to the host's listener: OnError -113 "Error
//    on socket read.  Error message = \"<that text>\"", as for a frame that
//    could not be read.
//
// The temporary file is named after the message id (File::TemporaryFileName:
// a peer's id never chooses a directory, and two messages never share a
// file). A reception dropped before Deliver (a frame that failed, a
// connection that ended mid-file) removes its temporary file when it goes.
//
// A file larger than one chunk (ChunkWriter::kChunkBytes) is hashed and
// written by a ChunkWriter on the file work pool while the reader goes on
// receiving; the reader asks MayReadMore before each read, so that no more
// than the writer's bounded queue is ever held. A smaller file, one received
// without a pool, or one beyond the pool's writer places, is hashed and
// written by the reader as it arrives. A failed write shows the same way
// either way, once the writing is over.
//
// Threads: the sink calls, MayReadMore and Deliver run on the connection's
// read path; Deliver hands the reception to the pool, which then owns it
// alone: its check starts once the writer, if any, is done, on the pool
// thread that finished the writing, so that it never waits for it.

#include <cryptopp/sha.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "connection/ConnectionSettings.h"
#include "connection/SpaceReservations.h"
#include "protocol/BinaryDataSink.h"

namespace Corvane {
namespace File {
class File;
class FileDelivery;
class FileFactory;
}  // namespace File
namespace Logging {
class Logger;
}
namespace Client {

class ChunkWriter;
class Connection;
class FileProgressReporter;
class ListenerSlot;
class FileWorkPool;

class FileReception : public BinaryDataSink, public std::enable_shared_from_this<FileReception> {
 public:
  /// The temporary file comes from the settings' file factory; a checked
  /// file is delivered to their file directory. A file that would leave less
  /// than their minFreeBytes free where it is kept or delivered is refused
  /// (flag 0, "Not enough free space ..."). Large files are written on
  /// `pool` when given (see above).
  explicit FileReception(std::shared_ptr<const ConnectionSettings> settings,
                         std::shared_ptr<FileWorkPool> pool = nullptr);
  /// Removes the temporary file unless Deliver has handed it on. A writer is
  /// stopped first; should it be inside a write, the removal follows on the
  /// pool once the write is over: whoever drops the reception never waits
  /// for the disk.
  ~FileReception() override;
  FileReception(const FileReception&) = delete;
  FileReception& operator=(const FileReception&) = delete;

  /// Reports the file's progress to the host's observer in `listener`, for
  /// the application of `connection`. Before the file's name is read.
  void ReportProgressTo(std::shared_ptr<ListenerSlot> listener, std::weak_ptr<Connection> connection);

  void OnFileName(const BinaryDataMessage& message) override;
  void OnFileData(const BinaryDataMessage& message, const char* data, std::size_t size) override;
  void OnFileEnd(const BinaryDataMessage& message) override;

  /// Whether the connection may read the next piece of the body now. False
  /// while the writer's queue is full: `resume` then runs once, on the
  /// pool, when there is room again; it must not let go of the reception.
  bool MayReadMore(std::function<void()> resume);
  /// Whether a writer hashes and writes the data on the pool as it arrives
  /// (a file longer than one chunk that got one of the pool's writer places).
  bool HasWriter() const { return writer_ != nullptr; }

  /// Reports a failed temporary file to the host (see above), then hands
  /// Finish to the connection's file work pool and returns at once. Should
  /// no thread start, the sender is answered with flag 0 from here (or not
  /// at all when the engine is being destroyed) and the temporary file is
  /// removed. `message` is complete. Returns false when the file waits for a
  /// thread: the connection must then stop reading until the thread that
  /// takes the file resumes it. A file its writer is still writing always
  /// returns false: the pool thread that finishes the writing reports a
  /// failure, resumes the connection, then runs Finish.
  bool Deliver(std::shared_ptr<const BinaryDataMessage> message,
               const std::shared_ptr<Connection>& connection);

  /// Checks the received file and moves it into the connection's file
  /// directory under its name (replacing a file of that name), then answers
  /// with a BINACK; the listener hears of the file once the BINACK has been
  /// written. Outcomes:
  ///  - connection already closed: the temporary file is removed, no BINACK;
  ///  - name refused or writing failed while reading: flag 0 with that text,
  ///    nothing left in the temporary directory;
  ///  - checksums differ (compared exactly, so upper-case digits never match):
  ///    the file is removed, flag 0 "Incorrect Checksum";
  ///  - the move fails: flag 0 with the failure's text, the temporary file
  ///    is removed;
  ///  - moved: flag 1.
  /// Blocks on the disk, never on the network; never throws.
  void Finish(const std::shared_ptr<const BinaryDataMessage>& message,
              const std::shared_ptr<Connection>& connection) const;

  /// SHA-1 of the bytes received, 40 lower-case hexadecimal digits; empty
  /// until the data has been read and IsWritten.
  std::u16string GetCalculatedChecksum() const;
  /// Why the file cannot be delivered whatever its checksum (refused name,
  /// failed write); empty while it can. A write of the writer that failed
  /// counts once IsWritten.
  std::wstring GetFailure() const;
  /// Whether the writer has written every byte read and closed the
  /// file (or its writing has failed). Always true for a file the reader
  /// writes itself: its writes are over when each sink call returns.
  bool IsWritten() const;
  const std::shared_ptr<File::File>& GetFile() const { return file_; }

 private:
  void OpenFile(const std::u16string& messageId);
  // Fails the reception when the file would eat into the free-space reserve.
  void RefuseUnlessRoomFor(const BinaryDataMessage& message);
  // Hands larger files to a writer; the reader writes the rest.
  void StartWriter(const BinaryDataMessage& message);
  // Keeps the first failure, logs it and removes the partial file.
  // `onThisSide`: the failure is the engine's (its disk), not the sender's.
  void Fail(std::wstring text, bool onThisSide);
  // Fail with the text of a write into the temporary file that failed.
  void FailWrite(const std::wstring& reason);
  // Whether the host hears of the failure too (see above).
  bool FailedOnThisSide() const;
  // On the pool thread that finished the writing: reports a failure, lets
  // the connection read on, and runs Finish.
  void AfterWriter(const std::shared_ptr<const BinaryDataMessage>& message,
                   const std::shared_ptr<Connection>& connection);
  // Tells the host of a failure of the engine's own (see above).
  void ReportFailure(const std::shared_ptr<Connection>& connection) const;
  // Stops the writer, and removes the temporary file unless it has
  // been handed on; see the destructor.
  void Drop();
  // Removes the temporary file; failures are logged, never thrown.
  void RemoveFile() const;
  void Answer(const std::shared_ptr<const BinaryDataMessage>& message,
              const std::shared_ptr<Connection>& connection, const std::wstring& errorText,
              std::shared_ptr<File::FileDelivery> delivery) const;

  const std::shared_ptr<File::File> file_;
  const std::shared_ptr<const ConnectionSettings> settings_;
  const std::shared_ptr<FileWorkPool> pool_;
  std::unique_ptr<ChunkWriter> writer_;  // for a file larger than one chunk
  // The space this file was admitted with, given back as its bytes arrive.
  std::unique_ptr<SpaceReservations::Reservation> reservation_;
  CryptoPP::SHA1 digest_;                 // of a file the reader writes itself
  std::u16string calculated_checksum_;    // likewise
  std::shared_ptr<Logging::Logger> logger_;
  std::wstring failure_;
  bool failure_on_this_side_ = false;  // the host is told of it, not only the sender
  bool handed_over_ = false;           // set by Deliver: the file is processing's now
  std::shared_ptr<ListenerSlot> progress_listener_;
  std::weak_ptr<Connection> progress_connection_;
  std::shared_ptr<FileProgressReporter> progress_;  // from the name on, when reporting
};

}  // namespace Client
}  // namespace Corvane
