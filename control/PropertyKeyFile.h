#pragma once
// The control's persisted property set as a group of a GLib key file: the
// version word first, then the nine stored properties under their names, in
// the order a container exchanges them.

#include <glib.h>

#include <cstdint>
#include <string>

#include "control/ControlProperties.h"

namespace Corvane {
namespace Control {

class PropertyKeyFile {
 public:
  /// Replaces `group` of `keyFile` with `versionWord` and `properties`.
  static void Save(const ControlProperties& properties, std::uint32_t versionWord,
                   GKeyFile* keyFile, const char* group);

  /// Reads `group` of `keyFile` into `properties`; a key the group lacks
  /// takes its value from `defaults`. On failure (no such group, a value of
  /// the wrong type) `properties` is untouched and `error` says which key.
  static bool Load(GKeyFile* keyFile, const char* group, const ControlProperties& defaults,
                   ControlProperties& properties, GError** error);
};

}  // namespace Control
}  // namespace Corvane
