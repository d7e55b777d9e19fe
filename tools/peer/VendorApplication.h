#pragma once
// The simulated vendor application: hand-shakes, answers the engine as a
// well-behaved application does (or, with a fault, as a broken one does),
// reports every message, and sends XML and files on command.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tools/peer/EventPrinter.h"
#include "tools/peer/PeerLink.h"

namespace Corvane {
namespace Peer {

/// Behaviour an integrator may want to test against; all off by default.
struct Faults {
  bool noXmlAck = false;         // never answer XMLDATA
  bool noHealthAck = false;      // never answer HLTHCHK
  int ackDelayMs = 0;            // answer XMLDATA and HLTHCHK this late
  bool wrongAckId = false;       // answer with an id that is not the message's
  bool badChecksum = false;      // send files with a wrong SHA-1
  bool stopReading = false;      // read nothing after the handshake
  bool resetMidFile = false;     // reset the stream halfway through a file
  int framePieces = 1;           // send every frame in this many pieces
};

struct Identity {
  std::u16string id = u"corvane-peer";
  std::u16string name = u"Corvane Peer";
  std::u16string address = u"127.0.0.1";
  int version = 1;
};

class VendorApplication {
 public:
  VendorApplication(EventPrinter& out, Identity identity, Faults faults);
  ~VendorApplication();

  /// Connects to the engine's server port and hand-shakes; then answers and
  /// reports on a thread of its own. Throws std::runtime_error on failure.
  void Connect(const std::string& host, int port);
  /// Sends one XMLDATA; with version 1 waits for its XMLACK (at most
  /// `timeoutMs`). True when sent (and acknowledged).
  bool SendXml(const std::u16string& xml, int timeoutMs);
  /// Opens a file connection to the file port the engine announced and sends
  /// `path` with a progress bar; waits for the BINACK (at most `timeoutMs`).
  /// True when the engine accepted the file.
  bool SendFile(const std::string& path, int timeoutMs);
  /// Sends a DISCONNECT and closes.
  void Disconnect();
  /// True while the engine's side of the standard connection is open.
  bool Connected() const { return connected_; }

 private:
  // Ends the link and the reader.
  void Close();
  void ReadLoop();
  void Answer(const ReceivedFrame& frame);
  void Send(const std::u16string& frame);

  EventPrinter& out_;
  const Identity identity_;
  const Faults faults_;
  std::unique_ptr<PeerLink> link_;
  std::thread reader_;
  std::atomic<bool> connected_{false};
  int file_port_ = 0;
  std::string host_;
  std::mutex mutex_;  // guards the fields below and link_ writes
  std::condition_variable changed_;
  std::u16string acked_xml_id_;
};

}  // namespace Peer
}  // namespace Corvane
