#pragma once
/* The control a client application embeds: the engine's settings as
 * properties, its operations as methods, its notifications as signals that
 * arrive on the thread that created the control. */

#include <gio/gio.h>
#include <glib-object.h>

#include "control/CorvaneClientApplication.h"
#include "control/CorvaneClientExport.h"
#include "control/CorvaneClientSendOutcome.h"

G_BEGIN_DECLS

#define CORVANE_CLIENT_TYPE_CTRL (corvane_client_ctrl_get_type())
CORVANE_CLIENT_API
G_DECLARE_FINAL_TYPE(CorvaneClientCtrl, corvane_client_ctrl, CORVANE_CLIENT, CTRL, GObject)

/**
 * CorvaneClientCtrl:
 *
 * The CorvaneClient control. It loads the engine library Quellor.so from the
 * control module's own directory; without it the control still works and
 * every engine method returns -999 with the loading failure as its last error.
 *
 * Properties (their ids are the control's dispatch ids): group-address (3),
 * group-port (4), server-port (5), hailing-interval (6), started (7, read-only),
 * hailing (8, read-only), using-hailing-server (13), ack-timeout (15),
 * health-check-interval (16), file-port (18), file-directory (19), and the
 * read-only applications model (20). Writes to stored properties are ignored
 * while the control is started. Each property is notified when its value
 * changes, started and hailing included.
 *
 * Methods that return a status give 0 on success and the engine's negative
 * code on failure; corvane_client_ctrl_get_last_error_message() then holds its
 * text. A failure that is not the engine's own (an exception of another
 * kind, even one of unknown type) gives -999, as a missing engine does; so
 * does a call on something that is not a control, which also logs a
 * critical.
 *
 * Signals ("error-occured", "message-received", "file-received",
 * "application-added", "application-removed", "file-progress",
 * "connection-refused") are emitted
 * on the thread that created the control, while that thread iterates the GLib
 * main context that was its thread-default context at creation. A host that
 * runs no GLib main loop calls g_main_context_iteration() on that context
 * itself. Every control of a process receives every notification of the
 * engine they share; destroying one leaves the others served.
 */

/**
 * CORVANE_CLIENT_PERSIST_GROUP:
 *
 * The key-file group the control's properties are saved under unless the
 * caller names another.
 */
#define CORVANE_CLIENT_PERSIST_GROUP "CorvaneClient"

/**
 * CorvaneClientError:
 * @CORVANE_CLIENT_ERROR_FAILED: a failure with no more specific code
 * @CORVANE_CLIENT_ERROR_STARTED: the control is started; stop it first
 * @CORVANE_CLIENT_ERROR_INVALID_PROPERTIES: a saved property set that cannot be read
 * @CORVANE_CLIENT_ERROR_NOT_REGISTERED: no class is registered under that name
 * @CORVANE_CLIENT_ERROR_REGISTRY: the registry file cannot be read or written
 * @CORVANE_CLIENT_ERROR_MODULE: a registered module cannot be loaded or has no such class;
 *   or the user-interface module CorvaneClientUi.so cannot be loaded
 * @CORVANE_CLIENT_ERROR_NO_DISPLAY: a dialog was asked for but there is no display to show it on
 *
 * Errors of the control module's own operations (engine failures are status
 * codes, not errors).
 */
typedef enum {
  CORVANE_CLIENT_ERROR_FAILED,
  CORVANE_CLIENT_ERROR_STARTED,
  CORVANE_CLIENT_ERROR_INVALID_PROPERTIES,
  CORVANE_CLIENT_ERROR_NOT_REGISTERED,
  CORVANE_CLIENT_ERROR_REGISTRY,
  CORVANE_CLIENT_ERROR_MODULE,
  CORVANE_CLIENT_ERROR_NO_DISPLAY
} CorvaneClientError;

#define CORVANE_CLIENT_ERROR (corvane_client_error_quark())
CORVANE_CLIENT_API
GQuark corvane_client_error_quark(void);

/**
 * corvane_client_ctrl_new:
 *
 * Creates a control. Its signals are emitted on the calling thread, from the
 * main context that is the thread-default context now.
 *
 * Returns: (transfer full): the new control
 */
CORVANE_CLIENT_API
CorvaneClientCtrl *corvane_client_ctrl_new(void);

/**
 * corvane_client_ctrl_start:
 * @self: the control
 * @client_id: the client's application id
 * @connection_name: the client's application name
 *
 * Starts the connection process: hands the properties to the engine, which
 * starts hailing and accepting vendor applications.
 *
 * Returns: 0, or the engine's error code (see the last error message); -999
 *   when @self is not a control
 */
CORVANE_CLIENT_API
gint16 corvane_client_ctrl_start(CorvaneClientCtrl *self, const gchar *client_id,
                                 const gchar *connection_name);

/**
 * corvane_client_ctrl_stop:
 * @self: the control
 *
 * Stops the connection: every vendor application is sent a DISCONNECT.
 *
 * Returns: 0, or the engine's error code; -999 when @self is not a control
 */
CORVANE_CLIENT_API
gint16 corvane_client_ctrl_stop(CorvaneClientCtrl *self);

/**
 * corvane_client_ctrl_get_last_error_message:
 * @self: the control
 *
 * Return the text associated with the last failure of start, stop, register,
 * unregister, send_data, send_data_each or get_applications; empty when the last of them
 * (other than get_applications) succeeded.
 *
 * Returns: (transfer full): the text
 */
CORVANE_CLIENT_API
gchar *corvane_client_ctrl_get_last_error_message(CorvaneClientCtrl *self);

/**
 * corvane_client_ctrl_register:
 * @self: the control
 *
 * Register with the system: a fresh random client id.
 *
 * Returns: (transfer full): the id, or an empty text on failure
 */
CORVANE_CLIENT_API
gchar *corvane_client_ctrl_register(CorvaneClientCtrl *self);

/**
 * corvane_client_ctrl_unregister:
 * @self: the control
 * @client_id: (nullable): the id to remove; %NULL does nothing and returns 0
 *
 * Remove the application from the system.
 *
 * Returns: 0, or the engine's error code; -999 when @self is not a control
 */
CORVANE_CLIENT_API
gint16 corvane_client_ctrl_unregister(CorvaneClientCtrl *self, const gchar *client_id);

/**
 * corvane_client_ctrl_send_data:
 * @self: the control
 * @xml: (nullable): the XML text; %NULL sends an empty text
 *
 * Send XML data to the Corvane applications: validated against its DTD, then
 * delivered to every connected application.
 *
 * Returns: 0, or the engine's error code (-200 for XML that is not valid);
 *   -999 when @self is not a control
 */
CORVANE_CLIENT_API
gint16 corvane_client_ctrl_send_data(CorvaneClientCtrl *self, const gchar *xml);

/**
 * corvane_client_ctrl_send_data_each:
 * @self: the control
 * @xml: (nullable): the XML text; %NULL sends an empty text
 * @status: (out) (optional): 0 when the XML went out, else the code of the
 *   failure before anything was sent (-200 for XML that is not valid, -999
 *   without an engine or with one that cannot send to each application, the
 *   engine's code when no application is connected)
 *
 * Sends XML data as corvane_client_ctrl_send_data() does and tells what came
 * of it for each application connected at the call, in the engine's order.
 * XML that is not valid is sent to nobody: @status is then -200 and the last
 * error message says why, as for corvane_client_ctrl_send_data(), with the
 * first validity errors (line, column, the parser's message); every outcome
 * carries -200 and the same text. On another failure before anything was
 * sent the array is empty. The last error is emptied first; the failures of
 * single applications are in their outcomes, not in the last error.
 *
 * Returns: (transfer container) (element-type CorvaneClientSendOutcome): one
 *   outcome per application
 */
CORVANE_CLIENT_API
GPtrArray *corvane_client_ctrl_send_data_each(CorvaneClientCtrl *self, const gchar *xml,
                                              gint16 *status);

/**
 * corvane_client_ctrl_send_data_each_async:
 * @self: the control
 * @xml: (nullable): the XML text; %NULL sends an empty text
 * @cancellable: (nullable): accepted for the GIO convention; a send under way
 *   is not cancelled, and its outcomes are always delivered
 * @callback: (scope async): called when every application has answered or
 *   failed, on the thread-default main context of the calling thread
 * @user_data: data for @callback
 *
 * Sends as corvane_client_ctrl_send_data_each() does without blocking the
 * calling thread: the send, which waits up to the acknowledgement timeout for
 * the applications' answers, runs on a worker thread. Get the outcomes with
 * corvane_client_ctrl_send_data_each_finish(). The control is kept alive until
 * then. Sends may overlap; the engine takes them in turn.
 */
CORVANE_CLIENT_API
void corvane_client_ctrl_send_data_each_async(CorvaneClientCtrl *self, const gchar *xml,
                                              GCancellable *cancellable,
                                              GAsyncReadyCallback callback, gpointer user_data);

/**
 * corvane_client_ctrl_send_data_each_finish:
 * @self: the control
 * @result: the result given to the callback
 * @status: (out) (optional): as for corvane_client_ctrl_send_data_each()
 *
 * The outcomes of a corvane_client_ctrl_send_data_each_async() call, as
 * corvane_client_ctrl_send_data_each() returns them; the last error message
 * is set here, as that call sets it.
 *
 * Returns: (transfer container) (element-type CorvaneClientSendOutcome): one
 *   outcome per application
 */
CORVANE_CLIENT_API
GPtrArray *corvane_client_ctrl_send_data_each_finish(CorvaneClientCtrl *self,
                                                     GAsyncResult *result, gint16 *status);

/**
 * corvane_client_ctrl_get_applications_model:
 * @self: the control
 *
 * The control's [property@CorvaneClient.Ctrl:applications] model: the
 * connected applications, kept current as they come and go.
 *
 * Returns: (transfer none): a #GListModel of #CorvaneClientApplication
 */
CORVANE_CLIENT_API
GListModel *corvane_client_ctrl_get_applications_model(CorvaneClientCtrl *self);

/**
 * corvane_client_ctrl_get_applications:
 * @self: the control
 *
 * Return the registered applications, in the engine's order. On failure the
 * array is empty and the last error message says why.
 *
 * The array owns its elements: g_ptr_array_unref() releases them all.
 *
 * Returns: (transfer container) (element-type CorvaneClientApplication): the applications
 */
CORVANE_CLIENT_API
GPtrArray *corvane_client_ctrl_get_applications(CorvaneClientCtrl *self);

/**
 * corvane_client_ctrl_get_started:
 * @self: the control
 *
 * Is the control started (asked of the engine).
 *
 * Returns: whether the engine runs; %FALSE without an engine
 */
CORVANE_CLIENT_API
gboolean corvane_client_ctrl_get_started(CorvaneClientCtrl *self);

/**
 * corvane_client_ctrl_get_hailing:
 * @self: the control
 *
 * The control is hailing (asked of the engine).
 *
 * Returns: whether hailing datagrams are being sent; %FALSE without an engine
 */
CORVANE_CLIENT_API
gboolean corvane_client_ctrl_get_hailing(CorvaneClientCtrl *self);

/**
 * corvane_client_ctrl_about_box:
 * @self: the control
 * @error: a #GError, or %NULL
 *
 * Shows the about box modally and returns when it is closed. The dialogs live
 * in the user-interface module CorvaneClientUi.so beside the control module
 * (built on GTK 4), loaded on the first request; the control module itself
 * never loads a toolkit.
 *
 * Fails with %CORVANE_CLIENT_ERROR_NO_DISPLAY when no display is set or it
 * cannot be opened, and with %CORVANE_CLIENT_ERROR_MODULE when the
 * user-interface module cannot be loaded.
 *
 * Returns: %TRUE when the box was shown
 */
CORVANE_CLIENT_API
gboolean corvane_client_ctrl_about_box(CorvaneClientCtrl *self, GError **error);

/**
 * corvane_client_ctrl_show_property_page:
 * @self: the control
 * @error: a #GError, or %NULL
 *
 * The properties verb: shows the control's property page ("General") in a
 * dialog of its own, modally, and returns when it is closed. The page writes
 * the control's properties when applied, after checking their ranges; while
 * the control is started it only shows them. Loaded and failing as
 * corvane_client_ctrl_about_box() is.
 *
 * Returns: %TRUE when the page was shown
 */
CORVANE_CLIENT_API
gboolean corvane_client_ctrl_show_property_page(CorvaneClientCtrl *self, GError **error);

/**
 * corvane_client_ctrl_reset_properties:
 * @self: the control
 *
 * Sets every stored property back to its default (ignored while started).
 */
CORVANE_CLIENT_API
void corvane_client_ctrl_reset_properties(CorvaneClientCtrl *self);

/**
 * corvane_client_ctrl_get_modified:
 * @self: the control
 *
 * Whether a stored property was assigned while the control was stopped
 * since the control was created, loaded or saved; any assignment counts,
 * whether or not it changed the value (so does
 * corvane_client_ctrl_reset_properties()). Assignments ignored because the
 * control is started do not.
 *
 * Returns: %TRUE when there is something to save
 */
CORVANE_CLIENT_API
gboolean corvane_client_ctrl_get_modified(CorvaneClientCtrl *self);

/**
 * corvane_client_ctrl_save_to_key_file:
 * @self: the control
 * @key_file: where to save
 * @group: (nullable): the group; %NULL for %CORVANE_CLIENT_PERSIST_GROUP
 *
 * Saves the version word and the nine stored properties into @group of
 * @key_file, replacing what the group held.
 */
CORVANE_CLIENT_API
void corvane_client_ctrl_save_to_key_file(CorvaneClientCtrl *self, GKeyFile *key_file,
                                          const gchar *group);

/**
 * corvane_client_ctrl_load_from_key_file:
 * @self: the control
 * @key_file: what to load
 * @group: (nullable): the group; %NULL for %CORVANE_CLIENT_PERSIST_GROUP
 * @error: a #GError, or %NULL
 *
 * Loads the stored properties from @group of @key_file; a property the group
 * lacks takes its default. Nothing changes when a value cannot be read or the
 * control is started.
 *
 * Returns: %TRUE when the properties were loaded
 */
CORVANE_CLIENT_API
gboolean corvane_client_ctrl_load_from_key_file(CorvaneClientCtrl *self, GKeyFile *key_file,
                                                const gchar *group, GError **error);

/**
 * corvane_client_ctrl_save_to_data:
 * @self: the control
 * @length: (out) (optional): the text's length in bytes
 *
 * Saves the properties as the text of a key file with one group,
 * %CORVANE_CLIENT_PERSIST_GROUP.
 *
 * Returns: (transfer full): the text
 */
CORVANE_CLIENT_API
gchar *corvane_client_ctrl_save_to_data(CorvaneClientCtrl *self, gsize *length);

/**
 * corvane_client_ctrl_load_from_data:
 * @self: the control
 * @data: key-file text, as corvane_client_ctrl_save_to_data() makes it
 * @length: its length in bytes, or -1 when it ends with a null character
 * @error: a #GError, or %NULL
 *
 * Loads the properties from the %CORVANE_CLIENT_PERSIST_GROUP group of @data.
 *
 * Returns: %TRUE when the properties were loaded
 */
CORVANE_CLIENT_API
gboolean corvane_client_ctrl_load_from_data(CorvaneClientCtrl *self, const gchar *data,
                                            gssize length, GError **error);

/**
 * corvane_client_ctrl_save_to_file:
 * @self: the control
 * @path: (type filename): the key file
 * @error: a #GError, or %NULL
 *
 * Saves the properties into group %CORVANE_CLIENT_PERSIST_GROUP of the key
 * file at @path, keeping its other groups; the file is replaced in one step.
 *
 * Returns: %TRUE when the file was written
 */
CORVANE_CLIENT_API
gboolean corvane_client_ctrl_save_to_file(CorvaneClientCtrl *self, const gchar *path,
                                          GError **error);

/**
 * corvane_client_ctrl_load_from_file:
 * @self: the control
 * @path: (type filename): the key file
 * @error: a #GError, or %NULL
 *
 * Loads the properties from group %CORVANE_CLIENT_PERSIST_GROUP of the key
 * file at @path.
 *
 * Returns: %TRUE when the properties were loaded
 */
CORVANE_CLIENT_API
gboolean corvane_client_ctrl_load_from_file(CorvaneClientCtrl *self, const gchar *path,
                                            GError **error);

G_END_DECLS
