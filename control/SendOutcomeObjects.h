#pragma once
// Outcome objects made from the engine's per-application outcomes.

#include "control/CorvaneClientSendOutcome.h"
#include "interface/QuellorObserver.h"

namespace Corvane {
namespace Control {

/// A new outcome object holding `outcome`, its status cut to 16 bits.
CorvaneClientSendOutcome* NewSendOutcomeObject(const Client::SendOutcome& outcome);

}  // namespace Control
}  // namespace Corvane
