#pragma once
// Reads an integer field's text as the property page does when it is applied:
// a whole number, optionally signed and surrounded by blanks, inside the
// field's range. No toolkit here, so the rule is tested on its own.

#include <string>

namespace Corvane {
namespace Control {

class FieldValidator {
 public:
  FieldValidator(int minimum, int maximum);

  /// Empty when `text` is a whole number in range, stored in `value`;
  /// otherwise the message shown beside the field, and `value` untouched.
  std::string Check(const std::string& text, int& value) const;

  /// "Enter a whole number from 1 to 99999."
  std::string Message() const;

 private:
  int minimum_;
  int maximum_;
};

}  // namespace Control
}  // namespace Corvane
