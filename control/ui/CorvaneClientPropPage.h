#pragma once
/* The control's property page ("General"): the nine stored properties as
 * fields bound to a control, checked against their ranges when applied. A
 * host embeds the widget in its own settings dialog, or opens it in a dialog
 * of its own with corvane_client_ctrl_show_property_page(). */

#include <gtk/gtk.h>

#include "control/CorvaneClientCtrl.h"
#include "control/CorvaneClientExport.h"

G_BEGIN_DECLS

#define CORVANE_CLIENT_TYPE_PROP_PAGE (corvane_client_prop_page_get_type())
CORVANE_CLIENT_API
G_DECLARE_FINAL_TYPE(CorvaneClientPropPage, corvane_client_prop_page, CORVANE_CLIENT, PROP_PAGE,
                     GtkWidget)

/**
 * CORVANE_CLIENT_PROP_PAGE_CAPTION:
 *
 * The page's caption, for the tab or title a host shows it under.
 */
#define CORVANE_CLIENT_PROP_PAGE_CAPTION "General"

/**
 * corvane_client_prop_page_new:
 * @control: the control whose properties the page shows and writes
 *
 * The page holds a reference on @control. Its fields show the control's
 * values; edits reach the control only through
 * corvane_client_prop_page_apply().
 *
 * Returns: (transfer floating): the page
 */
CORVANE_CLIENT_API
GtkWidget *corvane_client_prop_page_new(CorvaneClientCtrl *control);

/**
 * corvane_client_prop_page_get_control:
 * @self: the page
 *
 * Returns: (transfer none): the control the page is bound to
 */
CORVANE_CLIENT_API
CorvaneClientCtrl *corvane_client_prop_page_get_control(CorvaneClientPropPage *self);

/**
 * corvane_client_prop_page_apply:
 * @self: the page
 *
 * Checks every numeric field against its range. When one is not a whole
 * number in range, its message is shown beside it, the first such field takes
 * the focus and nothing is written. Otherwise the changed values are written
 * to the control. While the control is started the page is read-only and
 * nothing is written.
 *
 * Returns: %FALSE when a value was refused, else %TRUE
 */
CORVANE_CLIENT_API
gboolean corvane_client_prop_page_apply(CorvaneClientPropPage *self);

/**
 * corvane_client_prop_page_reset_to_defaults:
 * @self: the page
 *
 * Sets every stored property of the control back to its default (the
 * control ignores this while started) and shows the result, discarding
 * unapplied edits.
 */
CORVANE_CLIENT_API
void corvane_client_prop_page_reset_to_defaults(CorvaneClientPropPage *self);

/**
 * corvane_client_prop_page_refresh:
 * @self: the page
 *
 * Asks the control again whether it is started (the page turns read-only or
 * editable and says so) and shows the control's values in fields that hold
 * no unapplied edit. The page does this itself whenever it is shown, applied
 * or reset, and whenever the control notifies #CorvaneClientCtrl:started.
 */
CORVANE_CLIENT_API
void corvane_client_prop_page_refresh(CorvaneClientPropPage *self);

G_END_DECLS
