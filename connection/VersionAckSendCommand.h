#pragma once

#include "connection/ReplySendCommand.h"

namespace Corvane {
namespace Client {

class VersionMessage;

/// Answers a received VERSION with a VERSIONACK carrying its id; write and forget.
class VersionAckSendCommand : public ReplySendCommand {
 public:
  VersionAckSendCommand(std::shared_ptr<Socket> socket, const VersionMessage& version);
};

}  // namespace Client
}  // namespace Corvane
