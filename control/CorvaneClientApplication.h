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
 *
 * The applications of a control's [property@CorvaneClient.Ctrl:applications]
 * model also carry their link's health (connected-since, last-seen,
 * round-trip, acks-missed, messages-received, files-received,
 * bytes-received), read from the engine while the control is started and
 * notified when they change, at most once a second. Elsewhere they keep
 * their defaults: no dates, round-trip -1, counts 0.
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
 * CorvaneClientApplication:connected-since:
 *
 * When the application completed its handshake (UTC); %NULL when not known.
 */

/**
 * CorvaneClientApplication:last-seen:
 *
 * When the last frame of any kind arrived from the application (UTC); %NULL
 * when not known.
 */

/**
 * CorvaneClientApplication:round-trip:
 *
 * Round trip of the last acknowledged health check, in microseconds; -1
 * before the first answer.
 */

/**
 * CorvaneClientApplication:acks-missed:
 *
 * Health checks and XML messages whose acknowledgement did not come in time.
 */

/**
 * CorvaneClientApplication:messages-received:
 *
 * XML messages received from the application.
 */

/**
 * CorvaneClientApplication:files-received:
 *
 * Files received from the application.
 */

/**
 * CorvaneClientApplication:bytes-received:
 *
 * Every byte read from the application, on its standard and file
 * connections.
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

/**
 * corvane_client_application_get_connected_since:
 * @self: an application record
 *
 * When the application completed its handshake.
 *
 * Returns: (transfer full) (nullable): the time in UTC, or %NULL when not known
 */
CORVANE_CLIENT_API
GDateTime *corvane_client_application_get_connected_since(CorvaneClientApplication *self);

/**
 * corvane_client_application_get_last_seen:
 * @self: an application record
 *
 * When the last frame arrived from the application.
 *
 * Returns: (transfer full) (nullable): the time in UTC, or %NULL when not known
 */
CORVANE_CLIENT_API
GDateTime *corvane_client_application_get_last_seen(CorvaneClientApplication *self);

/**
 * corvane_client_application_get_round_trip:
 * @self: an application record
 *
 * Round trip of the last acknowledged health check.
 *
 * Returns: microseconds, or -1 before the first answer
 */
CORVANE_CLIENT_API
gint64 corvane_client_application_get_round_trip(CorvaneClientApplication *self);

/**
 * corvane_client_application_get_acks_missed:
 * @self: an application record
 *
 * Acknowledgements that did not come in time.
 *
 * Returns: how many health checks and XML messages went unacknowledged
 */
CORVANE_CLIENT_API
guint64 corvane_client_application_get_acks_missed(CorvaneClientApplication *self);

/**
 * corvane_client_application_get_messages_received:
 * @self: an application record
 *
 * XML messages received from the application.
 *
 * Returns: the count
 */
CORVANE_CLIENT_API
guint64 corvane_client_application_get_messages_received(CorvaneClientApplication *self);

/**
 * corvane_client_application_get_files_received:
 * @self: an application record
 *
 * Files received from the application.
 *
 * Returns: the count
 */
CORVANE_CLIENT_API
guint64 corvane_client_application_get_files_received(CorvaneClientApplication *self);

/**
 * corvane_client_application_get_bytes_received:
 * @self: an application record
 *
 * Bytes read from the application on both its connections.
 *
 * Returns: the count
 */
CORVANE_CLIENT_API
guint64 corvane_client_application_get_bytes_received(CorvaneClientApplication *self);

G_END_DECLS
