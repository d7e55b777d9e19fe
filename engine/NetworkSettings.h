#pragma once
// Where the engine hails and listens, and whom it lets in, as a site sets it
// in engine.ini beside the engine library (sections [Network] and [Access]),
// read at every Start. Every key's default keeps the engine's behaviour
// without the file: hail the system's way, listen on every address, allow
// every peer.

#include <memory>
#include <string>
#include <vector>

#include "connection/AccessPolicy.h"
#include "engine/HailInterfaces.h"

namespace Corvane {
namespace Client {

struct NetworkSettings {
  /// [Network] HailInterfaces: empty, "all", or interface names/addresses.
  HailInterfaces hailInterfaces;
  /// [Network] ListenAddresses: the IPv4 addresses the server and file ports
  /// listen on; empty for every address.
  std::vector<std::string> listenAddresses;
  /// [Access] AllowedNetworks and AllowedApplicationIds.
  std::shared_ptr<const AccessPolicy> access = std::make_shared<AccessPolicy>();

  /// Reads `moduleDirectory` + "/engine.ini". Returns false, with `error`
  /// naming the entry, when a list holds an entry that is not what it must
  /// be: a typo never opens the door silently.
  static bool Read(const std::wstring& moduleDirectory, NetworkSettings& settings,
                   std::wstring& error);
};

}  // namespace Client
}  // namespace Corvane
