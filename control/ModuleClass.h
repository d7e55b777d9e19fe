#pragma once
// The classes of the control module: what registration writes for each and
// the class objects DllGetClassObject hands out.

#include <cstdint>
#include <vector>

#include "control/CorvaneClientModule.h"

namespace Corvane {
namespace Control {

/// One class of the module.
struct ModuleClass {
  enum class Kind { Control, PropertyPage, Automation };

  Kind kind;
  /// Class identifier, in braces.
  const char* clsid;
  const char* progId;
  /// The name registered for the class.
  const char* typeName;
  /// The GObject type name of its instances.
  const char* gtypeName;
  /// The class object.
  const CorvaneClassFactory* factory;
  /// Creates an instance for `subject` (the property page: the control it
  /// edits, null for a new control), or null with `error` set. The other
  /// classes ignore `subject`.
  GObject* (*createFor)(GObject* subject, GError** error);

  /// The control, its property page and the application class, in the order
  /// they are registered.
  static const std::vector<ModuleClass>& All();
  /// The class of identifier `clsid`, matched without regard to case; null
  /// when there is none (or `clsid` is null).
  static const ModuleClass* Find(const char* clsid);
  /// What DllGetClassObject answers; see the C header for the result codes.
  /// Never throws.
  static std::int32_t GetClassObject(const char* clsid, const char* iid, void** object);
  /// What corvane_client_module_create_instance answers: a new instance of
  /// class `clsid` for `subject`, or null with `error` set.
  static GObject* CreateInstance(const char* clsid, GObject* subject, GError** error);
};

}  // namespace Control
}  // namespace Corvane
