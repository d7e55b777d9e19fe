#include "platform/WideError.h"

#include <utility>

#include "platform/TextConversion.h"

namespace Corvane {
namespace Platform {

WideError::WideError(std::wstring message)
    : message_(std::move(message)), narrow_(ToUtf8(message_)) {}

}  // namespace Platform
}  // namespace Corvane
