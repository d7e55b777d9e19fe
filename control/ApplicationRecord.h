#pragma once
// The four values of one connected vendor application, copied out of the
// engine's list.

#include <string>

namespace Corvane {
namespace Control {

struct ApplicationRecord {
  std::wstring id;
  std::wstring name;
  std::wstring address;
  int version = 1;
};

}  // namespace Control
}  // namespace Corvane
