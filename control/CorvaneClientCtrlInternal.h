#pragma once
// What the control module's own code and its unit tests reach of a control
// beyond its C API.

#include <memory>

#include "control/CorvaneClientCtrl.h"
#include "interface/Quellor.h"

namespace Corvane {
namespace Control {

/// Puts `engine` in place of the control's QuellorProxy (the control stops
/// listening to the old one first) and reads its state afresh. Controls given
/// the same engine share its notifications as controls of one engine
/// library do.
void UseEngineForTesting(CorvaneClientCtrl* self, std::shared_ptr<Client::Quellor> engine);

/// How often a started control asks the engine whether it still runs and
/// hails, and reads its applications' health (1000 ms unless set).
void SetStatePollInterval(CorvaneClientCtrl* self, unsigned milliseconds);

}  // namespace Control
}  // namespace Corvane
