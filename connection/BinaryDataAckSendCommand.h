#pragma once

#include <memory>
#include <string>

#include "connection/SendCommand.h"

namespace Corvane {
namespace File {
class File;
class FileDelivery;
}  // namespace File
namespace Logging {
class Logger;
}
namespace Client {

class BinaryDataMessage;
class FileProgressReporter;
class ListenerSlot;

/// Answers a received BINDATA with a BINACK and, once a successful BINACK has
/// been written completely, tells the host's listener where the file is.
///
/// When the BINACK cannot be written (or only in part) the delivery is taken
/// back (the file directory is as it was before it) or, for a file that was
/// not delivered, the received file is removed; the listener hears nothing:
/// the sender, left without an answer, sends the file again.
///
/// Run never throws and never waits; it may be called from any thread. The
/// pending write holds the command, so it lives until OnWritten has run
/// (on the I/O thread). The listener is reached through the engine's
/// ListenerSlot, which keeps it valid while a callback runs and drops it
/// once the host clears it.
class BinaryDataAckSendCommand : public SendCommand,
                                 public std::enable_shared_from_this<BinaryDataAckSendCommand> {
 public:
  /// `errorText` is empty when the file was received, checked and moved by
  /// `delivery`; otherwise the failure's text, sent with flag 0, and
  /// `delivery` is null.
  BinaryDataAckSendCommand(std::shared_ptr<Socket> socket,
                           std::shared_ptr<const BinaryDataMessage> message, std::wstring errorText,
                           std::shared_ptr<File::File> file,
                           std::shared_ptr<File::FileDelivery> delivery,
                           std::shared_ptr<ListenerSlot> listener, std::wstring applicationName,
                           std::shared_ptr<FileProgressReporter> progress = nullptr);
  ~BinaryDataAckSendCommand() override;

  void Run() override;
  /// Completion of the BINACK's write.
  void OnWritten(const boost::system::error_code& error, std::size_t bytesTransferred);

 private:
  const std::shared_ptr<const BinaryDataMessage> message_;
  const std::wstring error_text_;
  const std::shared_ptr<ListenerSlot> listener_;
  std::shared_ptr<Logging::Logger> logger_;
  const std::shared_ptr<File::File> file_;
  const std::shared_ptr<File::FileDelivery> delivery_;
  const std::wstring application_name_;
  const std::shared_ptr<FileProgressReporter> progress_;  // may be null
};

}  // namespace Client
}  // namespace Corvane
