#pragma once
// Application objects made from the engine's list, for GetApplications.

#include "control/ApplicationRecord.h"
#include "control/CorvaneClientApplication.h"

namespace Corvane {
namespace Control {

/// A new application object holding the four values of `record`.
CorvaneClientApplication* NewApplicationObject(const ApplicationRecord& record);

}  // namespace Control
}  // namespace Corvane
