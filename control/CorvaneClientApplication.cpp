// The Application automation object as a GObject with read-only properties:
// the four the engine's list gives and, for the applications of a control's
// model, the link's health. Each living one keeps the control module loaded.

#include "control/CorvaneClientApplication.h"

#include <chrono>
#include <string>

#include "control/ApplicationObjects.h"
#include "control/CorvaneClientApp.h"
#include "platform/TextConversion.h"

struct _CorvaneClientApplication {
  GObject parent_instance;
  gchar* id;
  gchar* name;
  gchar* address;
  gint version;
  // Microseconds since the Unix epoch; 0 when not known.
  gint64 connected_since;
  gint64 last_seen;
  gint64 round_trip;
  guint64 acks_missed;
  guint64 messages_received;
  guint64 files_received;
  guint64 bytes_received;
};

G_DEFINE_TYPE(CorvaneClientApplication, corvane_client_application, G_TYPE_OBJECT)

namespace {

// Property ids 1 to 4 are the dispatch ids of the Application interface.
enum {
  PROP_0,
  PROP_ID,
  PROP_NAME,
  PROP_ADDRESS,
  PROP_VERSION,
  PROP_CONNECTED_SINCE,
  PROP_LAST_SEEN,
  PROP_ROUND_TRIP,
  PROP_ACKS_MISSED,
  PROP_MESSAGES_RECEIVED,
  PROP_FILES_RECEIVED,
  PROP_BYTES_RECEIVED,
  PROP_LAST
};

GParamSpec* props[PROP_LAST];

// A time as microseconds since the epoch, or null for 0.
GDateTime* NewDateTime(gint64 microseconds) {
  if (microseconds == 0) return nullptr;
  GDateTime* seconds = g_date_time_new_from_unix_utc(microseconds / G_USEC_PER_SEC);
  if (!seconds) return nullptr;
  GDateTime* exact = g_date_time_add(seconds, microseconds % G_USEC_PER_SEC);
  g_date_time_unref(seconds);
  return exact;
}

gint64 MicrosecondsOf(std::chrono::system_clock::time_point time) {
  return std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count();
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  auto* self = CORVANE_CLIENT_APPLICATION(object);
  switch (id) {
    case PROP_ID: g_value_set_string(value, self->id); break;
    case PROP_NAME: g_value_set_string(value, self->name); break;
    case PROP_ADDRESS: g_value_set_string(value, self->address); break;
    case PROP_VERSION: g_value_set_int(value, self->version); break;
    case PROP_CONNECTED_SINCE: g_value_take_boxed(value, NewDateTime(self->connected_since)); break;
    case PROP_LAST_SEEN: g_value_take_boxed(value, NewDateTime(self->last_seen)); break;
    case PROP_ROUND_TRIP: g_value_set_int64(value, self->round_trip); break;
    case PROP_ACKS_MISSED: g_value_set_uint64(value, self->acks_missed); break;
    case PROP_MESSAGES_RECEIVED: g_value_set_uint64(value, self->messages_received); break;
    case PROP_FILES_RECEIVED: g_value_set_uint64(value, self->files_received); break;
    case PROP_BYTES_RECEIVED: g_value_set_uint64(value, self->bytes_received); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
  }
}

void Finalize(GObject* object) {
  auto* self = CORVANE_CLIENT_APPLICATION(object);
  g_free(self->id);
  g_free(self->name);
  g_free(self->address);
  G_OBJECT_CLASS(corvane_client_application_parent_class)->finalize(object);
  Corvane::Control::CorvaneClientApp::Instance().UnlockModule();
}

constexpr GParamFlags kReadOnly =
    static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_EXPLICIT_NOTIFY | G_PARAM_STATIC_STRINGS);

GParamSpec* TextProperty(const char* name, const char* nick, const char* blurb) {
  return g_param_spec_string(name, nick, blurb, "", kReadOnly);
}

GParamSpec* CountProperty(const char* name, const char* nick, const char* blurb) {
  return g_param_spec_uint64(name, nick, blurb, 0, G_MAXUINT64, 0, kReadOnly);
}

// Sets a field and notifies it when the value changes.
template <typename Value>
void Set(CorvaneClientApplication* self, Value* field, Value value, guint id) {
  if (*field == value) return;
  *field = value;
  g_object_notify_by_pspec(G_OBJECT(self), props[id]);
}

void SetText(CorvaneClientApplication* self, gchar** field, const std::wstring& value, guint id) {
  const std::string text = Corvane::Platform::ToUtf8(value);
  if (g_strcmp0(*field, text.c_str()) == 0) return;
  g_free(*field);
  *field = g_strdup(text.c_str());
  g_object_notify_by_pspec(G_OBJECT(self), props[id]);
}

}  // namespace

static void corvane_client_application_class_init(CorvaneClientApplicationClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  object_class->get_property = GetProperty;
  object_class->finalize = Finalize;
  props[PROP_ID] = TextProperty("id", "ID", "Identifier of the application");
  props[PROP_NAME] = TextProperty("name", "Name", "Name of the application");
  props[PROP_ADDRESS] = TextProperty("address", "Address", "Address of the application");
  props[PROP_VERSION] = g_param_spec_int("version", "Version",
                                         "Version of the attached application", G_MININT,
                                         G_MAXINT, 1, kReadOnly);
  props[PROP_CONNECTED_SINCE] =
      g_param_spec_boxed("connected-since", "ConnectedSince",
                         "When the application completed its handshake", G_TYPE_DATE_TIME,
                         kReadOnly);
  props[PROP_LAST_SEEN] = g_param_spec_boxed(
      "last-seen", "LastSeen", "When the last frame arrived from the application",
      G_TYPE_DATE_TIME, kReadOnly);
  props[PROP_ROUND_TRIP] = g_param_spec_int64(
      "round-trip", "RoundTrip", "Round trip of the last acknowledged health check (us)", -1,
      G_MAXINT64, -1, kReadOnly);
  props[PROP_ACKS_MISSED] =
      CountProperty("acks-missed", "AcksMissed", "Acknowledgements that did not come in time");
  props[PROP_MESSAGES_RECEIVED] = CountProperty("messages-received", "MessagesReceived",
                                                "XML messages received from the application");
  props[PROP_FILES_RECEIVED] =
      CountProperty("files-received", "FilesReceived", "Files received from the application");
  props[PROP_BYTES_RECEIVED] =
      CountProperty("bytes-received", "BytesReceived", "Bytes read from the application");
  g_object_class_install_properties(object_class, PROP_LAST, props);
}

static void corvane_client_application_init(CorvaneClientApplication* self) {
  Corvane::Control::CorvaneClientApp::Instance().LockModule();
  self->id = g_strdup("");
  self->name = g_strdup("");
  self->address = g_strdup("");
  self->version = 1;
  self->round_trip = -1;
}

CorvaneClientApplication* corvane_client_application_new(void) {
  return CORVANE_CLIENT_APPLICATION(g_object_new(CORVANE_CLIENT_TYPE_APPLICATION, nullptr));
}

const gchar* corvane_client_application_get_id(CorvaneClientApplication* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_APPLICATION(self), nullptr);
  return self->id;
}

const gchar* corvane_client_application_get_name(CorvaneClientApplication* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_APPLICATION(self), nullptr);
  return self->name;
}

const gchar* corvane_client_application_get_address(CorvaneClientApplication* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_APPLICATION(self), nullptr);
  return self->address;
}

gint corvane_client_application_get_version(CorvaneClientApplication* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_APPLICATION(self), 0);
  return self->version;
}

GDateTime* corvane_client_application_get_connected_since(CorvaneClientApplication* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_APPLICATION(self), nullptr);
  return NewDateTime(self->connected_since);
}

GDateTime* corvane_client_application_get_last_seen(CorvaneClientApplication* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_APPLICATION(self), nullptr);
  return NewDateTime(self->last_seen);
}

gint64 corvane_client_application_get_round_trip(CorvaneClientApplication* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_APPLICATION(self), -1);
  return self->round_trip;
}

guint64 corvane_client_application_get_acks_missed(CorvaneClientApplication* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_APPLICATION(self), 0);
  return self->acks_missed;
}

guint64 corvane_client_application_get_messages_received(CorvaneClientApplication* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_APPLICATION(self), 0);
  return self->messages_received;
}

guint64 corvane_client_application_get_files_received(CorvaneClientApplication* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_APPLICATION(self), 0);
  return self->files_received;
}

guint64 corvane_client_application_get_bytes_received(CorvaneClientApplication* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_APPLICATION(self), 0);
  return self->bytes_received;
}

namespace Corvane {
namespace Control {

CorvaneClientApplication* NewApplicationObject(const ApplicationRecord& record) {
  return NewApplicationObject(
      Client::ApplicationInfo{record.id, record.name, record.address, record.version});
}

CorvaneClientApplication* NewApplicationObject(const Client::ApplicationInfo& application) {
  CorvaneClientApplication* self = corvane_client_application_new();
  g_free(self->id);
  g_free(self->name);
  g_free(self->address);
  self->id = g_strdup(Platform::ToUtf8(application.id).c_str());
  self->name = g_strdup(Platform::ToUtf8(application.name).c_str());
  self->address = g_strdup(Platform::ToUtf8(application.address).c_str());
  self->version = application.version;
  return self;
}

void UpdateApplication(CorvaneClientApplication* self, const Client::ApplicationInfo& application) {
  g_object_freeze_notify(G_OBJECT(self));
  SetText(self, &self->id, application.id, PROP_ID);
  SetText(self, &self->name, application.name, PROP_NAME);
  SetText(self, &self->address, application.address, PROP_ADDRESS);
  Set(self, &self->version, static_cast<gint>(application.version), PROP_VERSION);
  g_object_thaw_notify(G_OBJECT(self));
}

void UpdateApplicationHealth(CorvaneClientApplication* self,
                             const Client::ApplicationHealth& health) {
  g_object_freeze_notify(G_OBJECT(self));
  Set(self, &self->connected_since, MicrosecondsOf(health.connectedSince), PROP_CONNECTED_SINCE);
  Set(self, &self->last_seen, MicrosecondsOf(health.lastFrameReceived), PROP_LAST_SEEN);
  Set(self, &self->round_trip,
      static_cast<gint64>(health.healthCheckRoundTrip.count() < 0
                              ? -1
                              : health.healthCheckRoundTrip.count()),
      PROP_ROUND_TRIP);
  Set(self, &self->acks_missed, static_cast<guint64>(health.acknowledgementsMissed),
      PROP_ACKS_MISSED);
  Set(self, &self->messages_received, static_cast<guint64>(health.xmlReceived),
      PROP_MESSAGES_RECEIVED);
  Set(self, &self->files_received, static_cast<guint64>(health.filesReceived),
      PROP_FILES_RECEIVED);
  Set(self, &self->bytes_received, static_cast<guint64>(health.bytesReceived),
      PROP_BYTES_RECEIVED);
  g_object_thaw_notify(G_OBJECT(self));
}

}  // namespace Control
}  // namespace Corvane
