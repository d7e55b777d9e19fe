#pragma once

#include <memory>

namespace Corvane {
namespace Client {

class Connection;

/// What a connection tells the engine: it has stopped because of its peer or
/// because it was closed.
class ConnectionListener {
 public:
  virtual void ConnectionClosed(std::shared_ptr<Connection> connection) = 0;
  virtual ~ConnectionListener() = default;
};

}  // namespace Client
}  // namespace Corvane
