#include "connection/HealthCheckAckSendCommand.h"

#include "protocol/HealthCheckMessage.h"
#include "protocol/HealthCheckAckMessage.h"

namespace Corvane {
namespace Client {

HealthCheckAckSendCommand::HealthCheckAckSendCommand(std::shared_ptr<Socket> socket, const HealthCheckMessage& check)
    : ReplySendCommand(std::move(socket), HealthCheckAckMessage(check).ToString()) {}

}  // namespace Client
}  // namespace Corvane
