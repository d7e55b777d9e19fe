#pragma once
// Runs a window as a modal dialog: presents it and iterates the default main
// context (GTK's) until the window is closed or destroyed, so the caller
// returns only when the person is done with it.

#include <gtk/gtk.h>

namespace Corvane {
namespace Control {

class ModalDialog {
 public:
  /// Takes `window` (a new toplevel), shows it modally over `parent` (may be
  /// null) and returns once it has been destroyed.
  static void Run(GtkWindow* window, GtkWindow* parent);
};

}  // namespace Control
}  // namespace Corvane
