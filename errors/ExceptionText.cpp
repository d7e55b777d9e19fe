#include "errors/ExceptionText.h"

#include "interface/Quellor.h"
#include "platform/TextConversion.h"
#include "platform/WideError.h"

namespace Corvane {
namespace Client {

std::wstring ExceptionText(const std::exception& e) {
  if (const auto* wide = dynamic_cast<const Platform::WideError*>(&e)) return wide->GetMessage();
  if (const auto* wide = dynamic_cast<const wexception*>(&e)) return wide->GetMessage();
  return Platform::FromUtf8(e.what());
}

}  // namespace Client
}  // namespace Corvane
