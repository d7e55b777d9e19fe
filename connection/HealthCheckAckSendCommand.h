#pragma once

#include "connection/ReplySendCommand.h"

namespace Corvane {
namespace Client {

class HealthCheckMessage;

/// Answers a received HLTHCHK with a HLTHACK carrying its id; write and forget.
class HealthCheckAckSendCommand : public ReplySendCommand {
 public:
  HealthCheckAckSendCommand(std::shared_ptr<Socket> socket, const HealthCheckMessage& check);
};

}  // namespace Client
}  // namespace Corvane
