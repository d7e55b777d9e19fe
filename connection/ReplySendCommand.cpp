#include "connection/ReplySendCommand.h"

namespace Corvane {
namespace Client {

ReplySendCommand::ReplySendCommand(std::shared_ptr<Socket> socket, std::u16string frame)
    : SendCommand(std::move(socket)), frame_(std::move(frame)) {}

void ReplySendCommand::Run() {
  try {
    StartWrite(std::move(frame_), [](const boost::system::error_code&, std::size_t) {});
  } catch (const std::exception&) {
    // A lost reply is the peer's to notice; nothing here can do better.
  }
}

}  // namespace Client
}  // namespace Corvane
