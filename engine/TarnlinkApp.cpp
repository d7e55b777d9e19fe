#include "engine/TarnlinkApp.h"

#include <exception>
#include <memory>

#include "engine/HostQuellor.h"
#include "engine/Tarnlink.h"

namespace Corvane {
namespace Client {

TarnlinkApp::TarnlinkApp() { InitInstance(); }

TarnlinkApp::~TarnlinkApp() { ExitInstance(); }

bool TarnlinkApp::InitInstance() {
  try {
    quellor_ = new HostQuellor(std::make_unique<Tarnlink>());
    return true;
  } catch (const std::exception&) {
    // GetConnector then answers null, which a host treats as a library that
    // could not be loaded.
    quellor_ = nullptr;
    return false;
  }
}

int TarnlinkApp::ExitInstance() {
  if (quellor_) {
    quellor_->ClearListener();
    delete quellor_;
    quellor_ = nullptr;
  }
  return 0;
}

}  // namespace Client
}  // namespace Corvane
