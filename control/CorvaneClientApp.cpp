#include "control/CorvaneClientApp.h"

#include "control/VersionBlock.h"
#include "platform/ModuleDirectory.h"

namespace Corvane {
namespace Control {

CorvaneClientApp& CorvaneClientApp::Instance() {
  static CorvaneClientApp application;
  return application;
}

CorvaneClientApp::CorvaneClientApp()
    : module_directory_(Platform::ModuleDirectoryOf(reinterpret_cast<const void*>(&Instance))) {
  InitInstance();
}

bool CorvaneClientApp::InitInstance() {
  SetVersionInformation();
  return true;
}

void CorvaneClientApp::SetVersionInformation() {
  const VersionPair pair = ScanVersionBlock(ModuleVersionBlock(), {major_, minor_});
  major_ = pair.major;
  minor_ = pair.minor;
}

}  // namespace Control
}  // namespace Corvane
