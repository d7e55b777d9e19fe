#pragma once
// The control's persisted property set as a group of a GLib key file: the
// version word first, then the nine stored properties under their names, in
// the order a container exchanges them.

#include <glib-object.h>

#include <cstdint>

namespace Corvane {
namespace Control {

class PropertyKeyFile {
 public:
  /// Replaces `group` of `keyFile` with `versionWord` and the stored
  /// properties of `control`.
  static void Save(GObject* control, std::uint32_t versionWord, GKeyFile* keyFile,
                   const char* group);

  /// Reads `group` of `keyFile` and sets the stored properties of `control`
  /// from it, with notifications held until all are set; a key the group
  /// lacks gives its property's default. On failure (no such group, a value
  /// of the wrong type) nothing is set and `error` says which key.
  static bool Load(GKeyFile* keyFile, const char* group, GObject* control, GError** error);
};

}  // namespace Control
}  // namespace Corvane
