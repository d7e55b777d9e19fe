#include "connection/VersionAckSendCommand.h"

#include "protocol/VersionMessage.h"
#include "protocol/VersionAckMessage.h"

namespace Corvane {
namespace Client {

VersionAckSendCommand::VersionAckSendCommand(std::shared_ptr<Socket> socket, const VersionMessage& version)
    : ReplySendCommand(std::move(socket), VersionAckMessage(version).ToString()) {}

}  // namespace Client
}  // namespace Corvane
