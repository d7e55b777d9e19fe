#pragma once
// BINDATA: carries one file from a vendor application (read, never written).
//
// Body, after the header:
//   fixed part (51)  message id (text 36), file name length n in characters
//                    (numeric 5), data length d in bytes (numeric 10)
//   file name (n)    trimmed at both ends
//   data             ceil(d / 2) characters, two bytes per character, low
//                    half first; an odd d pads the last character's high half
//   checksum (40)    SHA-1 of the d bytes, lower-case hexadecimal
//
// The data is read in chunks of at most Wire::kBinaryDataChunkLength
// characters; each chunk goes straight into the temporary file and the
// running digest, so memory stays bounded by one chunk whatever the size.
//
// Lengths from the peer:
//  - n below 1 or not a number fails the fixed part with -112 "<field> is not
//    a valid file name length.". Any other n is read whole (the 5-digit field
//    bounds it at 99999 characters), so a name too long to store still leaves
//    the stream in step; it is refused below.
//  - d below 0 or not a number fails with -112 "<field> is not a valid data
//    length."; d = 0 is an empty file: the checksum follows the name at once.
//    d is at most 2147483647 (a larger field is not a number that fits).
//  A failed fixed part leaves the rest of the frame unread; the connection
//  reports it (-113) and reads on at the next 20 characters.
//
// Failures after the fixed part never fail the frame, so the stream stays in
// step and the sender still gets its BINACK. From the failure on, the data is
// still read and hashed but no longer written:
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
//    so Process also reports it to the host's listener: OnError -113 "Error on
//    socket read.  Error message = \"<that text>\"", as for a frame that
//    could not be read.
//
// The temporary file is named after the message id (File::TemporaryFileName:
// a peer's id never chooses a directory, and two messages never share a
// file). A message dropped before Process (a frame that failed, a connection
// that ended mid-file) removes its temporary file when it is destroyed.
//
// Threads: Parse runs on the connection's read path; Process hands the
// complete message to a file processing thread, which then owns it alone.

#include <cryptopp/sha.h>

#include <memory>
#include <string>

#include "protocol/IntegrationMessage.h"

namespace Corvane {
namespace File {
class File;
}
namespace Logging {
class Logger;
}
namespace Client {

class BinaryDataMessage : public IntegrationMessage,
                          public std::enable_shared_from_this<BinaryDataMessage> {
 public:
  /// Parse states, in the order the parts of the body arrive.
  enum ParseState { kFixedPart = 0, kFileName = 1, kData = 2, kChecksum = 3, kComplete = 4 };

  /// Reading constructor: remaining length 51, and a file handle (not yet
  /// open) from the process-wide file factory.
  BinaryDataMessage();
  /// Removes the temporary file unless Process has handed it on.
  ~BinaryDataMessage() override;
  BinaryDataMessage(const BinaryDataMessage&) = delete;
  BinaryDataMessage& operator=(const BinaryDataMessage&) = delete;

  int GetRemainingLength() const override;
  /// Reads the part of the body the parse state asks for (see above). Throws
  /// QuellorException -112 for an invalid length in the fixed part and for a
  /// chunk whose size is not the remaining length; the message must then be
  /// dropped. Does nothing once complete.
  void Parse(const std::u16string& chunk) override;
  /// Throws QuellorException "Not implemented", -999: the engine never sends
  /// a BINDATA.
  std::u16string ToString() const override;
  std::u16string GetMessageId() const override;
  int GetProtocolVersion() const override;
  bool SupportsProtocolVersion(int version) const override;
  /// Reports a failed temporary file to the host (see above), then starts
  /// ProcessData on a thread of the connection's file processing threads and
  /// returns true at once. Should no thread start, the sender is
  /// answered with flag 0 from here (or not at all when the engine is being
  /// destroyed) and the temporary file is removed.
  bool Process(const std::shared_ptr<Connection>& connection) override;

  /// Checks the received file and moves it into the connection's file
  /// directory under its name (replacing a file of that name), then answers
  /// with a BINACK; the listener hears of the file once the BINACK has been
  /// written. Outcomes:
  ///  - connection already closed: the temporary file is removed, no BINACK;
  ///  - name refused or writing failed while reading: flag 0 with that text,
  ///    nothing left in the temporary directory;
  ///  - checksums differ (compared exactly, so upper-case digits never match):
  ///    the file is removed, flag 0 "Incorrect Checksum";
  ///  - the move fails: flag 0 with the failure's text, the file stays in the
  ///    temporary directory until the engine's next Start;
  ///  - moved: flag 1.
  /// Blocks on the disk, never on the network; never throws.
  void ProcessData(const std::shared_ptr<Connection>& connection) const;

  int GetParseState() const { return parse_state_; }
  int GetFileNameLength() const { return file_name_length_; }
  int GetDataLength() const { return data_length_; }
  /// The file name, trimmed.
  const std::u16string& GetFileName() const { return file_name_; }
  const std::u16string& GetExpectedChecksum() const { return expected_checksum_; }
  /// SHA-1 of the bytes received, 40 lower-case hexadecimal digits; empty
  /// until the data has been read.
  const std::u16string& GetCalculatedChecksum() const { return calculated_checksum_; }
  /// Why the file cannot be delivered whatever its checksum (refused name,
  /// failed write); empty while it can.
  const std::wstring& GetFailure() const { return failure_; }
  const std::shared_ptr<File::File>& GetFile() const { return file_; }

 private:
  void ParseFixedPart(const std::u16string& chunk);
  void ParseFileName(const std::u16string& chunk);
  void ParseData(const std::u16string& chunk);
  void ParseChecksum(const std::u16string& chunk);
  void RequireRemainingLength(const std::u16string& chunk) const;
  void OpenFile();
  void FinishData();
  // Keeps the first failure, logs it and removes the partial file.
  // `onThisSide`: the failure is the engine's (its disk), not the sender's.
  void Fail(std::wstring text, bool onThisSide);
  // Fail with the text of a write into the temporary file that failed.
  void FailWrite(const std::wstring& reason);
  // Removes the temporary file; failures are logged, never thrown.
  void RemoveFile() const;
  void Answer(const std::shared_ptr<Connection>& connection, const std::wstring& errorText) const;

  std::u16string message_id_;
  int file_name_length_ = 0;
  int data_length_ = 0;
  std::u16string file_name_;
  int remaining_length_;
  const std::shared_ptr<File::File> file_;
  CryptoPP::SHA1 digest_;
  int remaining_data_ = 0;  // characters of the data not yet read
  std::u16string expected_checksum_;
  std::u16string calculated_checksum_;
  std::shared_ptr<Logging::Logger> logger_;
  int parse_state_ = kFixedPart;
  bool odd_length_ = false;
  std::wstring failure_;
  bool failure_on_this_side_ = false;  // the host is told of it, not only the sender
  bool handed_over_ = false;  // set by Process: the temporary file is processing's now
};

}  // namespace Client
}  // namespace Corvane
