#pragma once
// The property page's fields: control id, label, the control property each
// is bound to and the range checked when the page is applied, in the page's
// exchange order (201, 202, 204, 203, 206, 205, 207, 209, 210). Ports take
// the range Start accepts, from the settings table, so the page refuses what
// Start would refuse; intervals and timeouts keep the page's own 1 - 600000.

#include <array>

#include "interface/QuellorSettings.h"

namespace Corvane {
namespace Control {

enum class FieldKind { kText, kInteger, kCheckBox };

struct PropertyField {
  int controlId;
  /// The label beside the field; for the check box, its own text.
  const char* label;
  /// The control's GObject property.
  const char* property;
  FieldKind kind;
  /// The accepted range of an integer field (both ends included).
  int minimum;
  int maximum;
};

inline const std::array<PropertyField, 9>& PropertyFields() {
  namespace Settings = Client::Settings;
  constexpr int kMaximumMilliseconds = 600000;
  static const std::array<PropertyField, 9> fields = {{
      {201, "Group Address:", "group-address", FieldKind::kText, 0, 0},
      {202, "Group Port:", "group-port", FieldKind::kInteger, Settings::kGroupPort.minimum,
       Settings::kGroupPort.maximum},
      {204, "Hailing Interval:", "hailing-interval", FieldKind::kInteger, 1, kMaximumMilliseconds},
      {203, "Sever Port:", "server-port", FieldKind::kInteger, Settings::kServerPort.minimum,
       Settings::kServerPort.maximum},
      {206, "Use Hailing Server", "using-hailing-server", FieldKind::kCheckBox, 0, 0},
      {205, "Ack Timeout:", "ack-timeout", FieldKind::kInteger, 1, kMaximumMilliseconds},
      {207, "Health Check Interval:", "health-check-interval", FieldKind::kInteger, 1,
       kMaximumMilliseconds},
      {209, "File Port:", "file-port", FieldKind::kInteger, Settings::kFilePort.minimum,
       Settings::kFilePort.maximum},
      {210, "File Directory:", "file-directory", FieldKind::kText, 0, 0},
  }};
  return fields;
}

}  // namespace Control
}  // namespace Corvane
