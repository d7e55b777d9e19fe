#pragma once
// Application objects made from the engine's lists: GetApplications' records,
// the observer's applications, and their link health.

#include "control/ApplicationRecord.h"
#include "control/CorvaneClientApplication.h"
#include "interface/QuellorObserver.h"

namespace Corvane {
namespace Control {

/// A new application object holding the four values of `record`.
CorvaneClientApplication* NewApplicationObject(const ApplicationRecord& record);
/// A new application object holding the four values of `application`.
CorvaneClientApplication* NewApplicationObject(const Client::ApplicationInfo& application);

/// Replaces the application's four values with `application`'s, notifying
/// those that change.
void UpdateApplication(CorvaneClientApplication* self, const Client::ApplicationInfo& application);

/// Sets the health properties from `health`, notifying (once, together)
/// those that change.
void UpdateApplicationHealth(CorvaneClientApplication* self,
                             const Client::ApplicationHealth& health);

}  // namespace Control
}  // namespace Corvane
