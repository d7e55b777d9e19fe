#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace Corvane {
namespace Logging {
class Logger;
}
namespace Client {

class IntegrationMessage;
class SendGroup;
class Socket;
class XmlDataMessage;
class XmlDataSendCommand;

/// One connection's XML transactions, one at a time: each is an
/// XmlDataSendCommand, the transaction's completion, woken by its
/// acknowledgement, the connection's end or its deadline. A transaction
/// begins once the one before it has finished (its Finish has returned, or
/// nobody holds it any more); the turn passes from completion to completion
/// inside this class, never through a caller's hands.
///
/// Begin runs on client threads (and waits for its turn there); OnAckReceived
/// on the read path; OnConnectionEnded on any thread.
class XmlTransactions {
 public:
  explicit XmlTransactions(std::shared_ptr<Socket> socket);
  XmlTransactions(const XmlTransactions&) = delete;
  XmlTransactions& operator=(const XmlTransactions&) = delete;

  /// Waits for the turn, then writes `message` without waiting for its
  /// outcome; the returned completion's Finish waits for it. `group`, when
  /// set, hears once when the outcome is known.
  std::shared_ptr<XmlDataSendCommand> Begin(std::shared_ptr<XmlDataMessage> message,
                                            std::chrono::milliseconds ackTimeout, int peerVersion,
                                            std::shared_ptr<SendGroup> group);
  /// Hands an XMLACK to the transaction under way, if any.
  void OnAckReceived(const std::shared_ptr<IntegrationMessage>& ack);
  /// The connection has ended: the transaction under way, and every later
  /// one, stops waiting for an acknowledgement.
  void OnConnectionEnded();
  /// The transaction under way, or null when there is none.
  std::shared_ptr<XmlDataSendCommand> Current() const;

 private:
  // Whose turn it is: taken by Begin, given back by the completion.
  struct Turn {
    std::mutex mutex;
    std::condition_variable free;
    bool taken = false;
    void Take();
    void Give();
  };

  const std::shared_ptr<Socket> socket_;
  const std::shared_ptr<Turn> turn_ = std::make_shared<Turn>();
  mutable std::mutex mutex_;  // guards the fields below; never held across a wait
  // Held weakly: a transaction nobody holds any more has finished, and must
  // go so that the turn passes on.
  std::weak_ptr<XmlDataSendCommand> current_;
  bool ended_ = false;
  // The transactions' logger, made at the first one.
  std::shared_ptr<Logging::Logger> logger_;
};

}  // namespace Client
}  // namespace Corvane
