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
  /// The class object; null for a class this module registers but another
  /// module implements (the property page).
  const CorvaneClassFactory* factory;

  /// The control, its property page and the application class, in the order
  /// they are registered.
  static const std::vector<ModuleClass>& All();
  /// The class of identifier `clsid`, matched without regard to case; null
  /// when there is none (or `clsid` is null).
  static const ModuleClass* Find(const char* clsid);
  /// What DllGetClassObject answers; see the C header for the result codes.
  /// Never throws.
  static std::int32_t GetClassObject(const char* clsid, const char* iid, void** object);
};

}  // namespace Control
}  // namespace Corvane
