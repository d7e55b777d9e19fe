#pragma once
/* The about box: "About CorvaneClient Control", the module's icon, the
 * module's name and version and an OK button. */

#include <gtk/gtk.h>

#include "control/CorvaneClientExport.h"

G_BEGIN_DECLS

#define CORVANE_CLIENT_TYPE_ABOUT_BOX (corvane_client_about_box_get_type())
CORVANE_CLIENT_API
G_DECLARE_FINAL_TYPE(CorvaneClientAboutBox, corvane_client_about_box, CORVANE_CLIENT, ABOUT_BOX,
                     GtkWindow)

/**
 * corvane_client_about_box_new:
 * @version: the module's file version, e.g. "2.0.9.0"
 *
 * A new about box, not yet shown; its OK button closes (destroys) it.
 *
 * Returns: (transfer none): the window, owned by GTK as every toplevel is
 */
CORVANE_CLIENT_API
GtkWindow *corvane_client_about_box_new(const gchar *version);

G_END_DECLS
