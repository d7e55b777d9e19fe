#include "control/ui/ModalDialog.h"

namespace Corvane {
namespace Control {

namespace {

void OnDestroy(GtkWidget*, gpointer data) { *static_cast<bool*>(data) = true; }

}  // namespace

void ModalDialog::Run(GtkWindow* window, GtkWindow* parent) {
  bool closed = false;
  // GTK holds the only reference: closing through the window manager
  // destroys the window by default, the dialogs' own buttons destroy it too,
  // and either way "destroy" ends the loop. The window is gone afterwards.
  g_signal_connect(window, "destroy", G_CALLBACK(OnDestroy), &closed);
  gtk_window_set_modal(window, TRUE);
  if (parent) gtk_window_set_transient_for(window, parent);
  gtk_window_present(window);
  while (!closed) g_main_context_iteration(nullptr, TRUE);
}

}  // namespace Control
}  // namespace Corvane
