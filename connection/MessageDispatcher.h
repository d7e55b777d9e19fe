#pragma once
// What the engine does with each message a connection reads: the receive
// actions, kept out of the message classes so that those stay a codec.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "connection/ConnectionSettings.h"

namespace Corvane {
namespace File {
class FileFactory;
}
namespace Client {

class Connection;
class FileWorkPool;
class FileReception;
class IntegrationMessage;
class ListenerSlot;

/// One per connection, used on its read path (the I/O thread) only.
class MessageDispatcher {
 public:
  /// Received files are received as `settings` say (see FileReception);
  /// without a file factory there, a BINDATA is read and dropped. `threads`
  /// is the connection's file work pool.
  explicit MessageDispatcher(std::shared_ptr<const ConnectionSettings> settings,
                             std::shared_ptr<FileWorkPool> threads = nullptr);
  ~MessageDispatcher();
  MessageDispatcher(const MessageDispatcher&) = delete;
  MessageDispatcher& operator=(const MessageDispatcher&) = delete;

  /// Files received from now on report their progress to the host's
  /// observer in `listener`, for the application of `connection`.
  void ReportProgressTo(std::shared_ptr<ListenerSlot> listener, std::weak_ptr<Connection> connection);

  /// A message whose header has just been read, before its body: a BINDATA
  /// gets a file reception that takes its bytes as they are read.
  void OnHeader(IntegrationMessage& message);
  /// The reading of the current message ended without it (a failed frame, a
  /// stopped connection): what was prepared for it goes.
  void Reset();
  /// Whether the next piece of the current message's body may be read now:
  /// not while a file's writer is behind. `resume` then runs, on any thread,
  /// once it may.
  bool MayReadBody(std::function<void()> resume);
  /// Whether the body being read is a file's data that a writer takes as it
  /// arrives: it may be read in large pieces. At most the file pool's writer
  /// places are ever such at once, so their buffers stay bounded.
  bool IsStreamingFile() const;
  /// Runs the receive action of a complete message on the connection that
  /// read it. Returns true when the connection must go on reading, false when
  /// it has ended or must wait (a file waiting for a thread resumes it).
  /// Messages the engine only ever sends are ignored.
  bool Dispatch(const std::shared_ptr<IntegrationMessage>& message,
                const std::shared_ptr<Connection>& connection);

 private:
  const std::shared_ptr<const ConnectionSettings> settings_;
  const std::shared_ptr<FileWorkPool> threads_;
  std::shared_ptr<FileReception> reception_;  // of the BINDATA being read
  std::shared_ptr<ListenerSlot> progress_listener_;
  std::weak_ptr<Connection> progress_connection_;
};

}  // namespace Client
}  // namespace Corvane
