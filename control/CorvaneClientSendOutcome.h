#pragma once
/* What a send did for one application, as corvane_client_ctrl_send_data_each()
 * hands it to a host. */

#include <glib-object.h>

#include "control/CorvaneClientExport.h"

G_BEGIN_DECLS

#define CORVANE_CLIENT_TYPE_SEND_OUTCOME (corvane_client_send_outcome_get_type())
CORVANE_CLIENT_API
G_DECLARE_FINAL_TYPE(CorvaneClientSendOutcome, corvane_client_send_outcome, CORVANE_CLIENT,
                     SEND_OUTCOME, GObject)

/**
 * CorvaneClientSendOutcome:
 *
 * The outcome of corvane_client_ctrl_send_data_each() for one application
 * connected at the call: status 0 when it acknowledged the XML, else the
 * negative code of its failure with the reason as the message (no
 * acknowledgement, write failed, connection ended). Read-only.
 */

/**
 * CorvaneClientSendOutcome:application-id:
 *
 * Identifier of the application.
 */

/**
 * CorvaneClientSendOutcome:status:
 *
 * 0 when the application acknowledged the XML, else the negative code of the
 * failure (cut to 16 bits, as the control's status methods give codes).
 */

/**
 * CorvaneClientSendOutcome:message:
 *
 * Empty on success, else why the application did not get the XML.
 */

/**
 * corvane_client_send_outcome_get_application_id:
 * @self: an outcome
 *
 * Identifier of the application.
 *
 * Returns: (transfer none): the application id
 */
CORVANE_CLIENT_API
const gchar *corvane_client_send_outcome_get_application_id(CorvaneClientSendOutcome *self);

/**
 * corvane_client_send_outcome_get_status:
 * @self: an outcome
 *
 * The outcome's status.
 *
 * Returns: 0, or the negative code of the failure
 */
CORVANE_CLIENT_API
gint corvane_client_send_outcome_get_status(CorvaneClientSendOutcome *self);

/**
 * corvane_client_send_outcome_get_message:
 * @self: an outcome
 *
 * Why the application did not get the XML.
 *
 * Returns: (transfer none): the reason, empty on success
 */
CORVANE_CLIENT_API
const gchar *corvane_client_send_outcome_get_message(CorvaneClientSendOutcome *self);

G_END_DECLS
