#pragma once
// One vendor application's TCP link to the engine, as the simulator plays it:
// blocking writes of whole frames (or of pieces of them), and a reader that
// turns the stream back into frames with the message codec.

#include <cstddef>
#include <memory>
#include <string>

namespace Corvane {
namespace Client {
class IntegrationMessage;
}
namespace Peer {

/// What the engine sent: a decoded message, or a BINACK (which the codec only
/// writes), or the end of the stream.
struct ReceivedFrame {
  std::u16string raw;                                 // the whole frame as it came
  std::shared_ptr<Client::IntegrationMessage> message;  // null for a BINACK
  bool isBinaryAck = false;
  std::u16string ackId;    // BINACK: the BINDATA's id
  int ackFlag = 0;         // BINACK: 1 success, 0 refused
  std::u16string ackText;  // BINACK: why it was refused
};

class PeerLink {
 public:
  /// Connects to `host`:`port` (IPv4 dotted address or name); throws
  /// std::runtime_error with the reason when it cannot.
  PeerLink(const std::string& host, int port);
  ~PeerLink();
  PeerLink(const PeerLink&) = delete;
  PeerLink& operator=(const PeerLink&) = delete;

  /// Writes `frame`; in `pieces` writes of about equal size when above 1.
  /// False when the stream has failed.
  bool Send(const std::u16string& frame, int pieces = 1);
  /// Writes raw bytes. False when the stream has failed.
  bool SendBytes(const char* data, std::size_t size);
  /// Reads the next frame; false at the end of the stream or on an error
  /// (then `error` says which). A frame that does not parse is returned with
  /// a null message and its text in `error`, and reading goes on.
  bool Receive(ReceivedFrame& frame, std::string& error);

  /// Ends the stream with a reset instead of an orderly close.
  void Reset();
  /// Ends both directions without releasing the descriptor: a Receive
  /// waiting on another thread returns false. Any thread.
  void Shutdown();
  /// Closes; call once no other thread uses the link.
  void Close();

 private:
  bool ReadCharacters(std::u16string& out, std::size_t count);

  int fd_ = -1;
};

}  // namespace Peer
}  // namespace Corvane
