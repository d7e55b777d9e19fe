#include "control/ui/FieldValidator.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace Corvane {
namespace Control {

FieldValidator::FieldValidator(int minimum, int maximum) : minimum_(minimum), maximum_(maximum) {}

std::string FieldValidator::Message() const {
  return "Enter a whole number from " + std::to_string(minimum_) + " to " +
         std::to_string(maximum_) + ".";
}

std::string FieldValidator::Check(const std::string& text, int& value) const {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
  while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  const std::string number = text.substr(begin, end - begin);
  std::size_t digits = (!number.empty() && (number[0] == '+' || number[0] == '-')) ? 1 : 0;
  if (digits == number.size()) return Message();
  for (std::size_t i = digits; i < number.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(number[i]))) return Message();
  }
  // Long enough digit strings overflow strtoll; they are out of range anyway.
  errno = 0;
  const long long parsed = std::strtoll(number.c_str(), nullptr, 10);
  if (errno == ERANGE || parsed < minimum_ || parsed > maximum_) return Message();
  value = static_cast<int>(parsed);
  return std::string();
}

}  // namespace Control
}  // namespace Corvane
