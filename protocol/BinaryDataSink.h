#pragma once
// Where a BINDATA's file goes while it is read: the codec hands over the name
// and then the file's bytes in order, and never keeps more than one chunk.

#include <cstddef>

namespace Corvane {
namespace Client {

class BinaryDataMessage;

class BinaryDataSink {
 public:
  virtual ~BinaryDataSink() = default;

  /// The fixed part and the file name have been read; the data follows.
  virtual void OnFileName(const BinaryDataMessage& message) = 0;
  /// The next `size` bytes of the file (the padding of an odd length is not
  /// among them); `message` already counts them as read.
  virtual void OnFileData(const BinaryDataMessage& message, const char* data, std::size_t size) = 0;
  /// Every byte has been handed over; the checksum follows.
  virtual void OnFileEnd(const BinaryDataMessage& message) = 0;

 protected:
  BinaryDataSink() = default;
  BinaryDataSink(const BinaryDataSink&) = default;
  BinaryDataSink& operator=(const BinaryDataSink&) = default;
};

}  // namespace Client
}  // namespace Corvane
