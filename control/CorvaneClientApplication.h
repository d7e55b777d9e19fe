#pragma once
/* One connected vendor application, as GetApplications hands it to a host. */

#include <glib-object.h>

#include "control/CorvaneClientExport.h"

G_BEGIN_DECLS

#define CORVANE_CLIENT_TYPE_APPLICATION (corvane_client_application_get_type())
CORVANE_CLIENT_API
G_DECLARE_FINAL_TYPE(CorvaneClientApplication, corvane_client_application, CORVANE_CLIENT,
                     APPLICATION, GObject)

/**
 * CorvaneClientApplication:
 *
 * A read-only record of one connected vendor application: its id, name,
 * address and protocol version. corvane_client_ctrl_get_applications() fills
 * one per application; one created empty (by ProgID "CorvaneClient.Application"
 * or with corvane_client_application_new()) has empty texts and version 1.
 * Every living application object keeps the control module loaded.
 */

/**
 * CorvaneClientApplication:id:
 *
 * Identifier of the application. Read-only; id 1.
 */

/**
 * CorvaneClientApplication:name:
 *
 * Name of the application. Read-only; id 2.
 */

/**
 * CorvaneClientApplication:address:
 *
 * Address of the application. Read-only; id 3.
 */

/**
 * CorvaneClientApplication:version:
 *
 * Version of the attached application. Read-only; id 4; 1 when created empty.
 */

/**
 * corvane_client_application_new:
 *
 * Creates an empty application record: empty id, name and address, version 1.
 *
 * Returns: (transfer full): the new record
 */
CORVANE_CLIENT_API
CorvaneClientApplication *corvane_client_application_new(void);

/**
 * corvane_client_application_get_id:
 * @self: an application record
 *
 * Identifier of the application.
 *
 * Returns: (transfer none): the application id
 */
CORVANE_CLIENT_API
const gchar *corvane_client_application_get_id(CorvaneClientApplication *self);

/**
 * corvane_client_application_get_name:
 * @self: an application record
 *
 * Name of the application.
 *
 * Returns: (transfer none): the application name
 */
CORVANE_CLIENT_API
const gchar *corvane_client_application_get_name(CorvaneClientApplication *self);

/**
 * corvane_client_application_get_address:
 * @self: an application record
 *
 * Address of the application.
 *
 * Returns: (transfer none): the address the application announced
 */
CORVANE_CLIENT_API
const gchar *corvane_client_application_get_address(CorvaneClientApplication *self);

/**
 * corvane_client_application_get_version:
 * @self: an application record
 *
 * Version of the attached application.
 *
 * Returns: the protocol version the application announced
 */
CORVANE_CLIENT_API
gint corvane_client_application_get_version(CorvaneClientApplication *self);

G_END_DECLS
