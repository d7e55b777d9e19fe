#include "protocol/IntegrationMessage.h"

namespace Corvane {
namespace Client {

// Defined here so that the class's virtual table has one home.
IntegrationMessage::~IntegrationMessage() = default;

}  // namespace Client
}  // namespace Corvane
