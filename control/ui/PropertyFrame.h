#pragma once
// The dialog the properties verb opens: "CorvaneClient Control Properties",
// the property page under its caption "General", and OK, Cancel and Apply.
// OK applies and closes unless the page refuses a value; Cancel closes
// without applying.

#include <gtk/gtk.h>

#include "control/CorvaneClientCtrl.h"

namespace Corvane {
namespace Control {

class PropertyFrame {
 public:
  /// The window title.
  static constexpr const char* kTitle = "CorvaneClient Control Properties";

  /// A new dialog for `control`, not yet shown; owned by GTK like every
  /// toplevel, destroyed by its buttons.
  static GtkWindow* Create(CorvaneClientCtrl* control);
};

}  // namespace Control
}  // namespace Corvane
