#pragma once
// Creation of a registered class by its ProgID: the registry file names the
// class and the module that implements it; the module is loaded, asked for
// the class object, and the object is made.

#include <glib-object.h>

#include <string>

namespace Corvane {
namespace Control {

/// Creates objects of the classes registered in one registry file. Modules
/// loaded for a creation stay loaded for the rest of the process, since the
/// objects they made may still be alive.
///
/// Thread-safety: Create may be called from any thread at once.
class ProgIdActivator {
 public:
  /// Creates from the registry file at `registryPath` (UTF-8).
  explicit ProgIdActivator(std::string registryPath);

  /// A new object of the class registered under `progId` (matched without
  /// regard to case), or null with `error` set (domain CORVANE_CLIENT_ERROR):
  /// REGISTRY when the registry file cannot be read; NOT_REGISTERED when the
  /// ProgID, its class or the class's module is not registered; MODULE when
  /// the module cannot be loaded, has no class objects, does not provide the
  /// class or makes no object. Never throws except std::bad_alloc.
  /// `subject` (may be null) is what the object is made for (the control a
  /// property page edits); a module's own failure (no display for a page)
  /// comes back as the module reports it.
  GObject* Create(const std::string& progId, GObject* subject, GError** error) const;

 private:
  std::string registry_path_;
};

}  // namespace Control
}  // namespace Corvane
