#pragma once
/* CorvaneClientUi.so: the control's design-time face on GTK 4 (the property
 * page, the about box and the control's picture). The control module loads
 * it from its own directory when a host asks for a dialog
 * (corvane_client_ctrl_about_box(), corvane_client_ctrl_show_property_page());
 * a host that embeds the widgets in its own windows links it and includes
 * this header. */

#include <gtk/gtk.h>

#include "control/CorvaneClientExport.h"
#include "control/ui/CorvaneClientAboutBox.h"
#include "control/ui/CorvaneClientPicture.h"
#include "control/ui/CorvaneClientPropPage.h"

G_BEGIN_DECLS

/**
 * corvane_client_ui_show_about_box:
 * @control: the control asking
 * @version: the module's file version, e.g. "2.0.9.0"
 * @error: a #GError, or %NULL
 *
 * Opens the display (initialising GTK when the host has not) and shows the
 * about box modally; returns when it is closed.
 *
 * Returns: %FALSE with %CORVANE_CLIENT_ERROR_NO_DISPLAY when no display can
 *   be opened
 */
CORVANE_CLIENT_API
gboolean corvane_client_ui_show_about_box(GObject *control, const gchar *version, GError **error);

/**
 * corvane_client_ui_show_property_page:
 * @control: the control whose properties are shown
 * @error: a #GError, or %NULL
 *
 * Shows the property page in a dialog of its own, modally; returns when it
 * is closed.
 *
 * Returns: %FALSE with %CORVANE_CLIENT_ERROR_NO_DISPLAY when no display can
 *   be opened
 */
CORVANE_CLIENT_API
gboolean corvane_client_ui_show_property_page(GObject *control, GError **error);

/**
 * corvane_client_ui_new_property_page:
 * @control: the control whose properties the page shows and writes
 * @error: a #GError, or %NULL
 *
 * Opens the display (initialising GTK when the host has not) and makes a
 * property page bound to @control: what the property page's class object
 * creates.
 *
 * Returns: (transfer full) (nullable): the page, or %NULL with
 *   %CORVANE_CLIENT_ERROR_NO_DISPLAY when no display can be opened
 */
CORVANE_CLIENT_API
GtkWidget *corvane_client_ui_new_property_page(GObject *control, GError **error);

G_END_DECLS
