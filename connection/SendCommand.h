#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include <boost/system/error_code.hpp>

#include "connection/Socket.h"

namespace Corvane {
namespace Client {

/// A transaction that writes one message on a connection's socket and, in
/// some kinds, waits for what follows. Each command serves one message.
class SendCommand {
 public:
  explicit SendCommand(std::shared_ptr<Socket> socket);
  virtual ~SendCommand();
  SendCommand(const SendCommand&) = delete;
  SendCommand& operator=(const SendCommand&) = delete;

  virtual void Run() = 0;

 protected:
  /// Hands `frame` to the socket's write queue; `handler` runs on the I/O
  /// thread when it has been written or has failed.
  void StartWrite(std::u16string frame, IoHandler handler);
  /// As StartWrite; `handler` may run inside this call, on this thread (see
  /// Socket::AsyncWriteMayCompleteHere).
  void StartWriteMayCompleteHere(std::u16string frame, IoHandler handler);

  /// Bytes of the frame handed to StartWrite (characters times 2).
  std::size_t ExpectedBytes() const { return expected_bytes_; }

  /// The text of a failed write, or empty when `bytesTransferred` is complete
  /// and `error` is clear: `failure` (e.g. "Failed to send the XML data
  /// message."), then "  Expected to send N bytes but only sent M." when the
  /// counts differ, then two blanks and the error's description when set.
  std::wstring DescribeWriteFailure(const std::wstring& failure,
                                    const boost::system::error_code& error,
                                    std::size_t bytesTransferred) const;

  const std::shared_ptr<Socket> socket_;

 private:
  std::size_t expected_bytes_ = 0;
};

}  // namespace Client
}  // namespace Corvane
