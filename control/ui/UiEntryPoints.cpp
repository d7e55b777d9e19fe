// The entry points the control module looks up in this module. Each makes
// sure GTK has a display, then runs its dialog modally.

#include "control/ui/CorvaneClientUi.h"
#include "control/ui/ModalDialog.h"
#include "control/ui/PropertyFrame.h"

namespace {

// GTK is initialised once per process; a host that is itself a GTK
// application has done it already.
bool OpenDisplay(GError** error) {
  if (gtk_init_check()) return true;
  const char* display = g_getenv("WAYLAND_DISPLAY");
  if (!display || !*display) display = g_getenv("DISPLAY");
  g_set_error(error, CORVANE_CLIENT_ERROR, CORVANE_CLIENT_ERROR_NO_DISPLAY,
              "No display to show the dialog on: display \"%s\" cannot be opened",
              display ? display : "");
  return false;
}

}  // namespace

gboolean corvane_client_ui_show_about_box(GObject* control, const gchar* version,
                                          GError** error) {
  g_return_val_if_fail(G_IS_OBJECT(control), FALSE);
  g_return_val_if_fail(version != nullptr, FALSE);
  if (!OpenDisplay(error)) return FALSE;
  Corvane::Control::ModalDialog::Run(corvane_client_about_box_new(version), nullptr);
  return TRUE;
}

gboolean corvane_client_ui_show_property_page(GObject* control, GError** error) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(control), FALSE);
  if (!OpenDisplay(error)) return FALSE;
  Corvane::Control::ModalDialog::Run(
      Corvane::Control::PropertyFrame::Create(CORVANE_CLIENT_CTRL(control)), nullptr);
  return TRUE;
}

GtkWidget* corvane_client_ui_new_property_page(GObject* control, GError** error) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(control), nullptr);
  if (!OpenDisplay(error)) return nullptr;
  GtkWidget* page = corvane_client_prop_page_new(CORVANE_CLIENT_CTRL(control));
  return GTK_WIDGET(g_object_ref_sink(page));
}
