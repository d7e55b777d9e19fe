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
// characters; each chunk's bytes go straight to the message's sink (when it
// has one), so memory stays bounded by one chunk whatever the size.
//
// Lengths from the peer:
//  - n below 1 or not a number fails the fixed part with -112 "<field> is not
//    a valid file name length.". Any other n is read whole (the 5-digit field
//    bounds it at 99999 characters), so a name too long to store still leaves
//    the stream in step.
//  - d below 0 or not a number fails with -112 "<field> is not a valid data
//    length."; d = 0 is an empty file: the checksum follows the name at once.
//    d is at most 2147483647 (a larger field is not a number that fits).
//  A failed fixed part leaves the rest of the frame unread.

#include <string>

#include "protocol/IntegrationMessage.h"

namespace Corvane {
namespace Client {

class BinaryDataSink;

class BinaryDataMessage : public IntegrationMessage {
 public:
  /// Parse states, in the order the parts of the body arrive.
  enum ParseState { kFixedPart = 0, kFileName = 1, kData = 2, kChecksum = 3, kComplete = 4 };

  /// Reading constructor: remaining length 51, no sink.
  BinaryDataMessage();
  BinaryDataMessage(const BinaryDataMessage&) = delete;
  BinaryDataMessage& operator=(const BinaryDataMessage&) = delete;

  /// Where the file's name and bytes go while they are read; without one the
  /// bytes are read and dropped. Set before the body is read; the sink must
  /// outlive the parsing.
  void SetSink(BinaryDataSink* sink) { sink_ = sink; }

  int GetRemainingLength() const override;
  /// Reads the part of the body the parse state asks for (see above). Throws
  /// EngineError -112 for an invalid length in the fixed part and for a
  /// chunk whose size is not the remaining length; the message must then be
  /// dropped. What the sink throws passes through. Does nothing once complete.
  void Parse(const std::u16string& chunk) override;
  /// Throws EngineError "Not implemented", -999: the engine never sends
  /// a BINDATA.
  std::u16string ToString() const override;
  std::u16string GetMessageId() const override;
  int GetProtocolVersion() const override;
  bool SupportsProtocolVersion(int version) const override;
  MessageType GetType() const override;

  int GetParseState() const { return parse_state_; }
  int GetFileNameLength() const { return file_name_length_; }
  int GetDataLength() const { return data_length_; }
  /// The file name, trimmed.
  const std::u16string& GetFileName() const { return file_name_; }
  const std::u16string& GetExpectedChecksum() const { return expected_checksum_; }
  /// Characters of the data not read yet.
  int GetRemainingData() const { return remaining_data_; }

 private:
  void ParseFixedPart(const std::u16string& chunk);
  void ParseFileName(const std::u16string& chunk);
  void ParseData(const std::u16string& chunk);
  void ParseChecksum(const std::u16string& chunk);
  void RequireRemainingLength(const std::u16string& chunk) const;
  void FinishData();

  std::u16string message_id_;
  int file_name_length_ = 0;
  int data_length_ = 0;
  std::u16string file_name_;
  int remaining_length_;
  int remaining_data_ = 0;  // characters of the data not yet read
  std::u16string expected_checksum_;
  BinaryDataSink* sink_ = nullptr;
  int parse_state_ = kFixedPart;
  bool odd_length_ = false;
};

}  // namespace Client
}  // namespace Corvane
