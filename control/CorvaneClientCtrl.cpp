// The control as a GObject: properties over the control's stored values,
// methods over its behaviour, and signals emitted from notifications posted to
// the main context of the thread that created it.

#include "control/CorvaneClientCtrl.h"

#include <memory>
#include <string>

#include "control/ApplicationObjects.h"
#include "control/ControlCore.h"
#include "control/CorvaneClientApp.h"
#include "control/MainContextPoster.h"
#include "control/PropertyKeyFile.h"
#include "control/QuellorProxy.h"
#include "control/UiModule.h"
#include "platform/TextConversion.h"

using Corvane::Control::ControlCore;
using Corvane::Control::ControlProperties;
using Corvane::Control::CorvaneClientApp;
using Corvane::Control::MainContextPoster;
using Corvane::Control::Notification;
using Corvane::Platform::FromUtf8;
using Corvane::Platform::ToUtf8;

namespace {

// A weak reference to the control that posted notifications carry, so a
// notification that runs after the control is gone finds nothing to signal.
struct WeakControl {
  explicit WeakControl(GObject* object) { g_weak_ref_init(&ref, object); }
  ~WeakControl() { g_weak_ref_clear(&ref); }
  WeakControl(const WeakControl&) = delete;
  WeakControl& operator=(const WeakControl&) = delete;
  GWeakRef ref;
};

// The C++ side of a control. The core goes before the poster: clearing the
// engine's listener waits for notifications in progress, after which the
// poster can drop what is still queued.
struct ControlState {
  std::unique_ptr<MainContextPoster> poster;
  std::unique_ptr<ControlCore> core;
};

}  // namespace

struct _CorvaneClientCtrl {
  GObject parent_instance;
  ControlState* state;
};

G_DEFINE_TYPE(CorvaneClientCtrl, corvane_client_ctrl, G_TYPE_OBJECT)

G_DEFINE_QUARK(corvane-client-error-quark, corvane_client_error)

namespace {

// Property ids are the control's dispatch ids.
enum {
  PROP_GROUP_ADDRESS = 3,
  PROP_GROUP_PORT = 4,
  PROP_SERVER_PORT = 5,
  PROP_HAILING_INTERVAL = 6,
  PROP_STARTED = 7,
  PROP_HAILING = 8,
  PROP_USING_HAILING_SERVER = 13,
  PROP_ACK_TIMEOUT = 15,
  PROP_HEALTH_CHECK_INTERVAL = 16,
  PROP_FILE_PORT = 18,
  PROP_FILE_DIRECTORY = 19,
  PROP_LAST
};

enum { SIGNAL_ERROR_OCCURED, SIGNAL_MESSAGE_RECEIVED, SIGNAL_FILE_RECEIVED, SIGNAL_COUNT };

GParamSpec* param_specs[PROP_LAST];
guint signals[SIGNAL_COUNT];

ControlCore& Core(CorvaneClientCtrl* self) { return *self->state->core; }

// A host's text; null reads as empty.
std::wstring TextOf(const gchar* text) { return text ? FromUtf8(text) : std::wstring(); }

gchar* NewText(const std::wstring& text) { return g_strdup(ToUtf8(text).c_str()); }

// Runs on the control's thread for each posted notification.
void Emit(CorvaneClientCtrl* self, const Notification& notification) {
  const std::string text = ToUtf8(notification.text);
  switch (notification.kind) {
    case Notification::Kind::kError:
      g_signal_emit(self, signals[SIGNAL_ERROR_OCCURED], 0,
                    static_cast<gint>(ControlCore::ToStatus(notification.number)), text.c_str());
      break;
    case Notification::Kind::kMessageReceived:
      g_signal_emit(self, signals[SIGNAL_MESSAGE_RECEIVED], 0, text.c_str());
      break;
    case Notification::Kind::kFileReceived:
      g_signal_emit(self, signals[SIGNAL_FILE_RECEIVED], 0, text.c_str());
      break;
  }
}

// Stores `properties` and notifies each property that changed; nothing while
// the control is started.
bool ApplyProperties(CorvaneClientCtrl* self, const ControlProperties& properties) {
  const ControlProperties before = Core(self).GetProperties();
  if (!Core(self).SetProperties(properties)) return false;
  const ControlProperties& after = Core(self).GetProperties();
  const struct {
    bool changed;
    int id;
  } changes[] = {
      {before.groupAddress != after.groupAddress, PROP_GROUP_ADDRESS},
      {before.groupPort != after.groupPort, PROP_GROUP_PORT},
      {before.serverPort != after.serverPort, PROP_SERVER_PORT},
      {before.hailingInterval != after.hailingInterval, PROP_HAILING_INTERVAL},
      {before.usingHailingServer != after.usingHailingServer, PROP_USING_HAILING_SERVER},
      {before.ackTimeout != after.ackTimeout, PROP_ACK_TIMEOUT},
      {before.healthCheckInterval != after.healthCheckInterval, PROP_HEALTH_CHECK_INTERVAL},
      {before.filePort != after.filePort, PROP_FILE_PORT},
      {before.fileDirectory != after.fileDirectory, PROP_FILE_DIRECTORY},
  };
  for (const auto& change : changes) {
    if (change.changed) g_object_notify_by_pspec(G_OBJECT(self), param_specs[change.id]);
  }
  return true;
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  auto* self = CORVANE_CLIENT_CTRL(object);
  ControlProperties p = Core(self).GetProperties();
  switch (id) {
    case PROP_GROUP_ADDRESS: p.groupAddress = TextOf(g_value_get_string(value)); break;
    case PROP_GROUP_PORT: p.groupPort = g_value_get_int(value); break;
    case PROP_SERVER_PORT: p.serverPort = g_value_get_int(value); break;
    case PROP_HAILING_INTERVAL: p.hailingInterval = g_value_get_int(value); break;
    case PROP_USING_HAILING_SERVER: p.usingHailingServer = g_value_get_boolean(value); break;
    case PROP_ACK_TIMEOUT: p.ackTimeout = g_value_get_int(value); break;
    case PROP_HEALTH_CHECK_INTERVAL: p.healthCheckInterval = g_value_get_int(value); break;
    case PROP_FILE_PORT: p.filePort = g_value_get_int(value); break;
    case PROP_FILE_DIRECTORY: p.fileDirectory = TextOf(g_value_get_string(value)); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); return;
  }
  ApplyProperties(self, p);
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  auto* self = CORVANE_CLIENT_CTRL(object);
  const ControlProperties& p = Core(self).GetProperties();
  switch (id) {
    case PROP_GROUP_ADDRESS: g_value_set_string(value, ToUtf8(p.groupAddress).c_str()); break;
    case PROP_GROUP_PORT: g_value_set_int(value, p.groupPort); break;
    case PROP_SERVER_PORT: g_value_set_int(value, p.serverPort); break;
    case PROP_HAILING_INTERVAL: g_value_set_int(value, p.hailingInterval); break;
    case PROP_STARTED: g_value_set_boolean(value, Core(self).IsStarted()); break;
    case PROP_HAILING: g_value_set_boolean(value, Core(self).IsHailing()); break;
    case PROP_USING_HAILING_SERVER: g_value_set_boolean(value, p.usingHailingServer); break;
    case PROP_ACK_TIMEOUT: g_value_set_int(value, p.ackTimeout); break;
    case PROP_HEALTH_CHECK_INTERVAL: g_value_set_int(value, p.healthCheckInterval); break;
    case PROP_FILE_PORT: g_value_set_int(value, p.filePort); break;
    case PROP_FILE_DIRECTORY: g_value_set_string(value, ToUtf8(p.fileDirectory).c_str()); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
  }
}

void Finalize(GObject* object) {
  auto* self = CORVANE_CLIENT_CTRL(object);
  delete self->state;
  self->state = nullptr;
  G_OBJECT_CLASS(corvane_client_ctrl_parent_class)->finalize(object);
  CorvaneClientApp::Instance().UnlockModule();
}

constexpr GParamFlags kStored =
    static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_EXPLICIT_NOTIFY | G_PARAM_STATIC_STRINGS);
constexpr GParamFlags kAsked = static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS);

GParamSpec* IntProperty(const char* name, const char* nick, const char* blurb, int fallback) {
  return g_param_spec_int(name, nick, blurb, G_MININT, G_MAXINT, fallback, kStored);
}

}  // namespace

static void corvane_client_ctrl_class_init(CorvaneClientCtrlClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  object_class->set_property = SetProperty;
  object_class->get_property = GetProperty;
  object_class->finalize = Finalize;

  const ControlProperties defaults =
      ControlProperties::Defaults(CorvaneClientApp::Instance().GetModuleDirectory());
  param_specs[PROP_GROUP_ADDRESS] =
      g_param_spec_string("group-address", "GroupAddress", "Address used for multicast hailing",
                          ToUtf8(defaults.groupAddress).c_str(), kStored);
  param_specs[PROP_GROUP_PORT] = IntProperty("group-port", "GroupPort",
                                            "Port used for multicast hailing", defaults.groupPort);
  param_specs[PROP_SERVER_PORT] = IntProperty("server-port", "ServerPort",
                                             "Port used to accept connections", defaults.serverPort);
  param_specs[PROP_HAILING_INTERVAL] =
      IntProperty("hailing-interval", "HailingInterval",
                  "Number of milleseconds between hailing messages", defaults.hailingInterval);
  param_specs[PROP_STARTED] =
      g_param_spec_boolean("started", "Started", "Is the control started", FALSE, kAsked);
  param_specs[PROP_HAILING] =
      g_param_spec_boolean("hailing", "Hailing", "The control is hailing", FALSE, kAsked);
  param_specs[PROP_USING_HAILING_SERVER] = g_param_spec_boolean(
      "using-hailing-server", "UsingHailingServer",
      "The control should send hailing messages to find Corvane applications",
      defaults.usingHailingServer, kStored);
  param_specs[PROP_ACK_TIMEOUT] =
      IntProperty("ack-timeout", "AckTimeout",
                  "The number of milleseconds to wait for an acknowledgement package",
                  defaults.ackTimeout);
  param_specs[PROP_HEALTH_CHECK_INTERVAL] =
      IntProperty("health-check-interval", "HealthCheckInterval",
                  "The number of milleseconds to wait between health check messages",
                  defaults.healthCheckInterval);
  param_specs[PROP_FILE_PORT] =
      IntProperty("file-port", "FilePort", "Port used to receive files", defaults.filePort);
  param_specs[PROP_FILE_DIRECTORY] = g_param_spec_string(
      "file-directory", "FileDirectory", "Directory used to store received files",
      ToUtf8(defaults.fileDirectory).c_str(), kStored);
  // The ids skip numbers, so each property is installed on its own.
  for (guint id = 1; id < PROP_LAST; ++id) {
    if (param_specs[id]) g_object_class_install_property(object_class, id, param_specs[id]);
  }

  signals[SIGNAL_ERROR_OCCURED] =
      g_signal_new("error-occured", G_TYPE_FROM_CLASS(klass), G_SIGNAL_RUN_LAST, 0, nullptr,
                   nullptr, nullptr, G_TYPE_NONE, 2, G_TYPE_INT, G_TYPE_STRING);
  signals[SIGNAL_MESSAGE_RECEIVED] =
      g_signal_new("message-received", G_TYPE_FROM_CLASS(klass), G_SIGNAL_RUN_LAST, 0, nullptr,
                   nullptr, nullptr, G_TYPE_NONE, 1, G_TYPE_STRING);
  signals[SIGNAL_FILE_RECEIVED] =
      g_signal_new("file-received", G_TYPE_FROM_CLASS(klass), G_SIGNAL_RUN_LAST, 0, nullptr,
                   nullptr, nullptr, G_TYPE_NONE, 1, G_TYPE_STRING);
}

static void corvane_client_ctrl_init(CorvaneClientCtrl* self) {
  CorvaneClientApp::Instance().LockModule();
  self->state = new ControlState();
  auto target = std::make_shared<WeakControl>(G_OBJECT(self));
  GMainContext* context = g_main_context_ref_thread_default();
  self->state->poster =
      std::make_unique<MainContextPoster>(context, [target](const Notification& notification) {
        gpointer object = g_weak_ref_get(&target->ref);
        if (!object) return;
        Emit(CORVANE_CLIENT_CTRL(object), notification);
        g_object_unref(object);
      });
  g_main_context_unref(context);
  self->state->core = std::make_unique<ControlCore>(
      std::make_unique<Corvane::Control::QuellorProxy>(), *self->state->poster,
      CorvaneClientApp::Instance().GetModuleDirectory());
}

CorvaneClientCtrl* corvane_client_ctrl_new(void) {
  return CORVANE_CLIENT_CTRL(g_object_new(CORVANE_CLIENT_TYPE_CTRL, nullptr));
}

gint16 corvane_client_ctrl_start(CorvaneClientCtrl* self, const gchar* client_id,
                                 const gchar* connection_name) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), 0);
  return Core(self).Start(TextOf(client_id), TextOf(connection_name));
}

gint16 corvane_client_ctrl_stop(CorvaneClientCtrl* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), 0);
  return Core(self).Stop();
}

gchar* corvane_client_ctrl_get_last_error_message(CorvaneClientCtrl* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), nullptr);
  return NewText(Core(self).GetLastError());
}

gchar* corvane_client_ctrl_register(CorvaneClientCtrl* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), nullptr);
  return NewText(Core(self).Register());
}

gint16 corvane_client_ctrl_unregister(CorvaneClientCtrl* self, const gchar* client_id) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), 0);
  if (!client_id) return Core(self).Unregister(nullptr);
  const std::wstring id = FromUtf8(client_id);
  return Core(self).Unregister(&id);
}

gint16 corvane_client_ctrl_send_data(CorvaneClientCtrl* self, const gchar* xml) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), 0);
  if (!xml) return Core(self).SendData(nullptr);
  const std::wstring text = FromUtf8(xml);
  return Core(self).SendData(&text);
}

GPtrArray* corvane_client_ctrl_get_applications(CorvaneClientCtrl* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), nullptr);
  const auto records = Core(self).GetApplications();
  GPtrArray* applications = g_ptr_array_new_full(records.size(), g_object_unref);
  for (const auto& record : records) {
    g_ptr_array_add(applications, Corvane::Control::NewApplicationObject(record));
  }
  return applications;
}

gboolean corvane_client_ctrl_get_started(CorvaneClientCtrl* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), FALSE);
  return Core(self).IsStarted();
}

gboolean corvane_client_ctrl_get_hailing(CorvaneClientCtrl* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), FALSE);
  return Core(self).IsHailing();
}

gboolean corvane_client_ctrl_about_box(CorvaneClientCtrl* self, GError** error) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), FALSE);
  g_return_val_if_fail(error == nullptr || *error == nullptr, FALSE);
  return Corvane::Control::UiModule::Instance().ShowAboutBox(G_OBJECT(self), error);
}

gboolean corvane_client_ctrl_show_property_page(CorvaneClientCtrl* self, GError** error) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), FALSE);
  g_return_val_if_fail(error == nullptr || *error == nullptr, FALSE);
  return Corvane::Control::UiModule::Instance().ShowPropertyPage(G_OBJECT(self), error);
}

void corvane_client_ctrl_reset_properties(CorvaneClientCtrl* self) {
  g_return_if_fail(CORVANE_CLIENT_IS_CTRL(self));
  ApplyProperties(self, Core(self).GetDefaults());
}

gboolean corvane_client_ctrl_get_modified(CorvaneClientCtrl* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), FALSE);
  return Core(self).IsModified();
}

void corvane_client_ctrl_save_to_key_file(CorvaneClientCtrl* self, GKeyFile* key_file,
                                          const gchar* group) {
  g_return_if_fail(CORVANE_CLIENT_IS_CTRL(self));
  g_return_if_fail(key_file != nullptr);
  Corvane::Control::PropertyKeyFile::Save(Core(self).GetProperties(),
                                          CorvaneClientApp::Instance().GetVersionWord(), key_file,
                                          group ? group : CORVANE_CLIENT_PERSIST_GROUP);
  Core(self).ClearModified();
}

gboolean corvane_client_ctrl_load_from_key_file(CorvaneClientCtrl* self, GKeyFile* key_file,
                                                const gchar* group, GError** error) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), FALSE);
  g_return_val_if_fail(key_file != nullptr, FALSE);
  if (Core(self).IsStarted()) {
    g_set_error_literal(error, CORVANE_CLIENT_ERROR, CORVANE_CLIENT_ERROR_STARTED,
                        "The control is started: stop it before loading properties");
    return FALSE;
  }
  ControlProperties loaded;
  if (!Corvane::Control::PropertyKeyFile::Load(key_file,
                                               group ? group : CORVANE_CLIENT_PERSIST_GROUP,
                                               Core(self).GetDefaults(), loaded, error)) {
    return FALSE;
  }
  ApplyProperties(self, loaded);
  Core(self).ClearModified();
  return TRUE;
}

gchar* corvane_client_ctrl_save_to_data(CorvaneClientCtrl* self, gsize* length) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), nullptr);
  GKeyFile* key_file = g_key_file_new();
  corvane_client_ctrl_save_to_key_file(self, key_file, nullptr);
  gchar* data = g_key_file_to_data(key_file, length, nullptr);
  g_key_file_unref(key_file);
  return data;
}

gboolean corvane_client_ctrl_load_from_data(CorvaneClientCtrl* self, const gchar* data,
                                            gssize length, GError** error) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), FALSE);
  g_return_val_if_fail(data != nullptr, FALSE);
  GKeyFile* key_file = g_key_file_new();
  const gboolean loaded =
      g_key_file_load_from_data(key_file, data, length, G_KEY_FILE_NONE, error) &&
      corvane_client_ctrl_load_from_key_file(self, key_file, nullptr, error);
  g_key_file_unref(key_file);
  return loaded;
}

gboolean corvane_client_ctrl_save_to_file(CorvaneClientCtrl* self, const gchar* path,
                                          GError** error) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), FALSE);
  g_return_val_if_fail(path != nullptr, FALSE);
  // Other groups of an existing file are kept; a file that cannot be read is
  // left alone rather than overwritten.
  GKeyFile* key_file = g_key_file_new();
  GError* failure = nullptr;
  gboolean saved = FALSE;
  if (!g_key_file_load_from_file(key_file, path, G_KEY_FILE_KEEP_COMMENTS, &failure) &&
      !g_error_matches(failure, G_FILE_ERROR, G_FILE_ERROR_NOENT)) {
    g_propagate_error(error, failure);
  } else {
    g_clear_error(&failure);
    Corvane::Control::PropertyKeyFile::Save(Core(self).GetProperties(),
                                            CorvaneClientApp::Instance().GetVersionWord(),
                                            key_file, CORVANE_CLIENT_PERSIST_GROUP);
    saved = g_key_file_save_to_file(key_file, path, error);
    if (saved) Core(self).ClearModified();
  }
  g_key_file_unref(key_file);
  return saved;
}

gboolean corvane_client_ctrl_load_from_file(CorvaneClientCtrl* self, const gchar* path,
                                            GError** error) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), FALSE);
  g_return_val_if_fail(path != nullptr, FALSE);
  GKeyFile* key_file = g_key_file_new();
  const gboolean loaded =
      g_key_file_load_from_file(key_file, path, G_KEY_FILE_NONE, error) &&
      corvane_client_ctrl_load_from_key_file(self, key_file, nullptr, error);
  g_key_file_unref(key_file);
  return loaded;
}
