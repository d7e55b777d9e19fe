#pragma once

#include <memory>

#include "connection/SendCommand.h"

namespace Corvane {
namespace Client {

/// Writes one reply frame and forgets it: the outcome of the write is
/// ignored and Run never throws. Base of the VERSIONACK and HLTHACK commands.
class ReplySendCommand : public SendCommand {
 public:
  void Run() override;

 protected:
  ReplySendCommand(std::shared_ptr<Socket> socket, std::u16string frame);

 private:
  std::u16string frame_;
};

}  // namespace Client
}  // namespace Corvane
