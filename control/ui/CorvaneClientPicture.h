#pragma once
/* The control's picture for a form designer: a fixed 28 x 26 pixels, a raised
 * edge around the bounds and the control's bitmap inside it. The control is
 * invisible at run time; this is all a designer shows of it. */

#include <gtk/gtk.h>

#include "control/CorvaneClientExport.h"

G_BEGIN_DECLS

/**
 * CORVANE_CLIENT_PICTURE_WIDTH:
 *
 * The picture's width in pixels, whatever size it is offered.
 */
#define CORVANE_CLIENT_PICTURE_WIDTH 28
/**
 * CORVANE_CLIENT_PICTURE_HEIGHT:
 *
 * The picture's height in pixels.
 */
#define CORVANE_CLIENT_PICTURE_HEIGHT 26

#define CORVANE_CLIENT_TYPE_PICTURE (corvane_client_picture_get_type())
CORVANE_CLIENT_API
G_DECLARE_FINAL_TYPE(CorvaneClientPicture, corvane_client_picture, CORVANE_CLIENT, PICTURE,
                     GtkWidget)

/**
 * corvane_client_picture_new:
 *
 * Returns: (transfer floating): the picture
 */
CORVANE_CLIENT_API
GtkWidget *corvane_client_picture_new(void);

G_END_DECLS
