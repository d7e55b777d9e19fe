#pragma once
// What the control module's own code and its unit tests reach of a control
// beyond its C API.

#include <memory>

#include "control/CorvaneClientCtrl.h"
#include "interface/Quellor.h"

namespace Corvane {
namespace Control {

/// Puts `engine` in place of the control's QuellorProxy (the old one's
/// listener is cleared first) and reads its state afresh.
void UseEngineForTesting(CorvaneClientCtrl* self, std::unique_ptr<Client::Quellor> engine);

/// How often a started control asks the engine whether it still runs and
/// hails (1000 ms unless set).
void SetStatePollInterval(CorvaneClientCtrl* self, unsigned milliseconds);

}  // namespace Control
}  // namespace Corvane
