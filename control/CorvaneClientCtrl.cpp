// The control as a GObject: the stored properties in its private data (UTF-8),
// one setter for each, methods over the engine adapter ControlCore, and
// signals emitted from notifications posted to the main context of the thread
// that created it. The applications model follows the observer's
// notifications and, while the engine runs, its link health.

#include "control/CorvaneClientCtrl.h"

#include <gio/gio.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "control/ApplicationObjects.h"
#include "control/ControlCore.h"
#include "control/CorvaneClientApp.h"
#include "control/CorvaneClientCtrlInternal.h"
#include "control/MainContextPoster.h"
#include "control/PropertyKeyFile.h"
#include "control/QuellorProxy.h"
#include "control/SendOutcomeObjects.h"
#include "control/UiModule.h"
#include "interface/QuellorSettings.h"
#include "platform/TextConversion.h"
#include "platform/UserDirectories.h"

using Corvane::Control::ControlCore;
using Corvane::Control::CorvaneClientApp;
using Corvane::Control::MainContextPoster;
using Corvane::Control::Notification;
using Corvane::Platform::FromUtf8;
using Corvane::Platform::ToUtf8;
namespace Settings = Corvane::Client::Settings;

struct _CorvaneClientCtrl {
  GObject parent_instance;
};

namespace {

// The control, weakly: what notifications and engine-state reads queued for
// it hold, so one that runs after the control is gone finds nothing.
struct WeakControl {
  explicit WeakControl(GObject* object) { g_weak_ref_init(&ref, object); }
  ~WeakControl() { g_weak_ref_clear(&ref); }
  WeakControl(const WeakControl&) = delete;
  WeakControl& operator=(const WeakControl&) = delete;
  GWeakRef ref;
};

// Every living control with its context. All controls of a process share the
// one engine, so one control's Start or Stop is news for the others.
struct LivingControl {
  const void* self;
  std::shared_ptr<WeakControl> target;
  GMainContext* context;
};

// Never destroyed: a control may be finalized during exit.
std::mutex& LivingMutex() {
  static auto* mutex = new std::mutex();
  return *mutex;
}

std::vector<LivingControl>& Living() {
  static auto* controls = new std::vector<LivingControl>();
  return *controls;
}

// How often a started control asks the engine whether it still runs and
// hails, so that their notifications follow changes nobody announced (another
// control stopping the shared engine, hailing failing).
constexpr guint kDefaultStatePollMilliseconds = 1000;

}  // namespace

typedef struct {
  // The stored properties: what Start hands to the engine and what is saved.
  gchar* group_address;
  gint group_port;
  gint server_port;
  gint hailing_interval;
  gboolean using_hailing_server;
  gint ack_timeout;
  gint health_check_interval;
  gint file_port;
  gchar* file_directory;
  // Something to save since creation, loading or saving.
  gboolean modified;
  // The engine's state as last told to the host (by notify::started and
  // notify::hailing).
  gboolean started;
  gboolean hailing;
  // The thread-default context at creation: notifications, signals and the
  // state poll run there.
  GMainContext* context;
  GSource* state_poll;
  guint state_poll_interval;
  // The connected applications (CorvaneClientApplication), in the order
  // they came; the applications property.
  GListStore* applications;
  // Connections the access rules refused, as the engine last counted them;
  // the refused-connections property.
  guint64 refused_connections;
  // The engine side. The core goes before the poster: clearing the engine's
  // listener waits for notifications in progress, after which the poster can
  // drop what is still queued.
  MainContextPoster* poster;
  ControlCore* core;
} CorvaneClientCtrlPrivate;

G_DEFINE_TYPE_WITH_PRIVATE(CorvaneClientCtrl, corvane_client_ctrl, G_TYPE_OBJECT)

G_DEFINE_QUARK(corvane-client-error-quark, corvane_client_error)

namespace {

// Property ids are the control's dispatch ids.
enum {
  PROP_0,
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
  PROP_APPLICATIONS = 20,
  PROP_REFUSED_CONNECTIONS = 21,
  PROP_LAST
};

enum {
  SIGNAL_ERROR_OCCURED,
  SIGNAL_MESSAGE_RECEIVED,
  SIGNAL_FILE_RECEIVED,
  SIGNAL_APPLICATION_ADDED,
  SIGNAL_APPLICATION_REMOVED,
  SIGNAL_FILE_PROGRESS,
  SIGNAL_CONNECTION_REFUSED,
  SIGNAL_COUNT
};

GParamSpec* props[PROP_LAST];
guint signals[SIGNAL_COUNT];

CorvaneClientCtrlPrivate* Private(CorvaneClientCtrl* self) {
  return static_cast<CorvaneClientCtrlPrivate*>(corvane_client_ctrl_get_instance_private(self));
}

ControlCore& Core(CorvaneClientCtrl* self) { return *Private(self)->core; }

// A host's text; null reads as empty.
std::wstring TextOf(const gchar* text) { return text ? FromUtf8(text) : std::wstring(); }

gchar* NewText(const std::wstring& text) { return g_strdup(ToUtf8(text).c_str()); }

// --- Applications -----------------------------------------------------------

// Where the application with `id` is in the model, or -1.
gint FindApplication(CorvaneClientCtrl* self, const std::string& id) {
  GListModel* model = G_LIST_MODEL(Private(self)->applications);
  const guint count = g_list_model_get_n_items(model);
  for (guint i = 0; i < count; ++i) {
    auto* application = static_cast<CorvaneClientApplication*>(g_list_model_get_item(model, i));
    const bool found = id == corvane_client_application_get_id(application);
    g_object_unref(application);
    if (found) return static_cast<gint>(i);
  }
  return -1;
}

// The model's application with `id`, added when missing, with `info`'s
// values. Returns a new reference.
CorvaneClientApplication* AddApplication(CorvaneClientCtrl* self,
                                         const Corvane::Client::ApplicationInfo& info) {
  CorvaneClientCtrlPrivate* priv = Private(self);
  const gint position = FindApplication(self, ToUtf8(info.id));
  if (position >= 0) {
    auto* application = static_cast<CorvaneClientApplication*>(
        g_list_model_get_item(G_LIST_MODEL(priv->applications), position));
    Corvane::Control::UpdateApplication(application, info);
    return application;
  }
  CorvaneClientApplication* application = Corvane::Control::NewApplicationObject(info);
  g_list_store_append(priv->applications, application);
  return application;
}

void RemoveApplication(CorvaneClientCtrl* self, const std::string& id) {
  const gint position = FindApplication(self, id);
  if (position >= 0) g_list_store_remove(Private(self)->applications, position);
}

// Reads the link health of the connected applications into the model's
// objects. With an engine that does not report applications coming and
// going, the model is also made to follow the engine's list here.
void UpdateApplications(CorvaneClientCtrl* self, bool reconcile) {
  CorvaneClientCtrlPrivate* priv = Private(self);
  std::vector<Corvane::Client::ApplicationHealth> health;
  const bool known = Core(self).GetApplicationHealth(health);
  if (reconcile) {
    std::vector<Corvane::Client::ApplicationInfo> infos;
    if (known) {
      for (const auto& entry : health) infos.push_back(entry.application);
    } else {
      for (const auto& record : Core(self).GetApplications()) {
        infos.push_back({record.id, record.name, record.address, record.version});
      }
    }
    std::vector<std::string> ids;
    for (const auto& info : infos) ids.push_back(ToUtf8(info.id));
    for (guint i = g_list_model_get_n_items(G_LIST_MODEL(priv->applications)); i-- > 0;) {
      auto* application = static_cast<CorvaneClientApplication*>(
          g_list_model_get_item(G_LIST_MODEL(priv->applications), i));
      const bool gone = std::find(ids.begin(), ids.end(),
                                  corvane_client_application_get_id(application)) == ids.end();
      g_object_unref(application);
      if (gone) g_list_store_remove(priv->applications, i);
    }
    for (const auto& info : infos) g_object_unref(AddApplication(self, info));
  }
  for (const auto& entry : health) {
    const gint position = FindApplication(self, ToUtf8(entry.application.id));
    if (position < 0) continue;
    auto* application = static_cast<CorvaneClientApplication*>(
        g_list_model_get_item(G_LIST_MODEL(priv->applications), position));
    Corvane::Control::UpdateApplicationHealth(application, entry);
    g_object_unref(application);
  }
}

// --- Engine state -----------------------------------------------------------

void StartStatePoll(CorvaneClientCtrl* self);
void StopStatePoll(CorvaneClientCtrl* self);

// Asks the engine whether it runs and hails and notifies what changed since
// the host was last told; the applications model is filled from the engine
// when it is found started and emptied when it is found stopped. Runs on the
// control's thread.
void SyncEngineState(CorvaneClientCtrl* self) {
  CorvaneClientCtrlPrivate* priv = Private(self);
  const gboolean started = Core(self).IsStarted();
  const gboolean hailing = Core(self).IsHailing();
  const bool started_changed = started != priv->started;
  const bool hailing_changed = hailing != priv->hailing;
  priv->started = started;
  priv->hailing = hailing;
  if (started_changed) {
    if (started) {
      UpdateApplications(self, true);
    } else {
      g_list_store_remove_all(priv->applications);
    }
  }
  if (started) {
    StartStatePoll(self);
  } else {
    StopStatePoll(self);
  }
  g_object_freeze_notify(G_OBJECT(self));
  if (started_changed) g_object_notify_by_pspec(G_OBJECT(self), props[PROP_STARTED]);
  if (hailing_changed) g_object_notify_by_pspec(G_OBJECT(self), props[PROP_HAILING]);
  g_object_thaw_notify(G_OBJECT(self));
}

// The state poll: the engine's state, then the applications' health (so
// each application's health is notified at most once an interval).
gboolean PollEngineState(gpointer data) {
  auto* target = static_cast<WeakControl*>(data);
  gpointer object = g_weak_ref_get(&target->ref);
  if (!object) return G_SOURCE_REMOVE;
  auto* self = CORVANE_CLIENT_CTRL(object);
  SyncEngineState(self);
  if (Private(self)->started) UpdateApplications(self, !Core(self).IsObserving());
  g_object_unref(object);
  return G_SOURCE_CONTINUE;
}

void StartStatePoll(CorvaneClientCtrl* self) {
  CorvaneClientCtrlPrivate* priv = Private(self);
  if (priv->state_poll) return;
  priv->state_poll = g_timeout_source_new(priv->state_poll_interval);
  g_source_set_callback(priv->state_poll, PollEngineState, new WeakControl(G_OBJECT(self)),
                        [](gpointer data) { delete static_cast<WeakControl*>(data); });
  g_source_attach(priv->state_poll, priv->context);
}

void StopStatePoll(CorvaneClientCtrl* self) {
  CorvaneClientCtrlPrivate* priv = Private(self);
  if (!priv->state_poll) return;
  g_source_destroy(priv->state_poll);
  g_source_unref(priv->state_poll);
  priv->state_poll = nullptr;
}

gboolean SyncLater(gpointer data) {
  const auto& target = *static_cast<std::shared_ptr<WeakControl>*>(data);
  gpointer object = g_weak_ref_get(&target->ref);
  if (object) {
    SyncEngineState(CORVANE_CLIENT_CTRL(object));
    g_object_unref(object);
  }
  return G_SOURCE_REMOVE;
}

// Has every other control read the engine's state afresh, each on its own
// thread, when it next iterates its context.
void TellOtherControls(CorvaneClientCtrl* self) {
  std::lock_guard<std::mutex> lock(LivingMutex());
  for (const LivingControl& other : Living()) {
    if (other.self == self) continue;
    GSource* source = g_idle_source_new();
    g_source_set_callback(source, SyncLater, new std::shared_ptr<WeakControl>(other.target),
                          [](gpointer data) {
                            delete static_cast<std::shared_ptr<WeakControl>*>(data);
                          });
    g_source_attach(source, other.context);
    g_source_unref(source);
  }
}

// Runs on the control's thread for each posted notification.
void Emit(CorvaneClientCtrl* self, const Notification& notification) {
  const std::string text = ToUtf8(notification.text);
  switch (notification.kind) {
    case Notification::Kind::kError:
      g_signal_emit(self, signals[SIGNAL_ERROR_OCCURED], 0,
                    static_cast<gint>(ControlCore::ToStatus(notification.number)), text.c_str());
      // A failed service may have stopped the engine or its hailing.
      SyncEngineState(self);
      break;
    case Notification::Kind::kMessageReceived:
      g_signal_emit(self, signals[SIGNAL_MESSAGE_RECEIVED], 0, text.c_str());
      break;
    case Notification::Kind::kFileReceived:
      g_signal_emit(self, signals[SIGNAL_FILE_RECEIVED], 0, text.c_str());
      break;
    case Notification::Kind::kApplicationAdded: {
      CorvaneClientApplication* application = AddApplication(self, notification.application);
      // Its health from the start, rather than from the next poll.
      UpdateApplications(self, false);
      g_signal_emit(self, signals[SIGNAL_APPLICATION_ADDED], 0, application);
      g_object_unref(application);
      break;
    }
    case Notification::Kind::kApplicationRemoved: {
      const std::string id = ToUtf8(notification.application.id);
      RemoveApplication(self, id);
      g_signal_emit(self, signals[SIGNAL_APPLICATION_REMOVED], 0, id.c_str(), text.c_str());
      break;
    }
    case Notification::Kind::kFileProgress:
      g_signal_emit(self, signals[SIGNAL_FILE_PROGRESS], 0,
                    ToUtf8(notification.application.id).c_str(), text.c_str(),
                    static_cast<gint64>(notification.bytesReceived),
                    static_cast<gint64>(notification.bytesAnnounced));
      break;
    case Notification::Kind::kConnectionRefused: {
      CorvaneClientCtrlPrivate* priv = Private(self);
      if (notification.refusedSoFar != priv->refused_connections) {
        priv->refused_connections = notification.refusedSoFar;
        g_object_notify_by_pspec(G_OBJECT(self), props[PROP_REFUSED_CONNECTIONS]);
      }
      g_signal_emit(self, signals[SIGNAL_CONNECTION_REFUSED], 0,
                    ToUtf8(notification.application.address).c_str(), text.c_str(),
                    static_cast<guint64>(notification.refusedSoFar));
      break;
    }
  }
}

// --- Stored properties ------------------------------------------------------

// Whether a stored property may be written now: not while the engine runs.
// Every write that may marks the control modified, whether or not it changes
// the value: a host that saves when modified saves after any assignment.
bool MayWrite(CorvaneClientCtrl* self) {
  if (Core(self).IsStarted()) return false;
  Private(self)->modified = TRUE;
  return true;
}

void SetText(CorvaneClientCtrl* self, gchar** field, const gchar* value, guint id) {
  if (!MayWrite(self)) return;
  const gchar* text = value ? value : "";
  if (g_strcmp0(*field, text) == 0) return;
  g_free(*field);
  *field = g_strdup(text);
  g_object_notify_by_pspec(G_OBJECT(self), props[id]);
}

void SetInteger(CorvaneClientCtrl* self, gint* field, gint value, guint id) {
  if (!MayWrite(self)) return;
  if (*field == value) return;
  *field = value;
  g_object_notify_by_pspec(G_OBJECT(self), props[id]);
}

void SetFlag(CorvaneClientCtrl* self, gboolean* field, gboolean value, guint id) {
  if (!MayWrite(self)) return;
  value = value != FALSE;
  if (*field == value) return;
  *field = value;
  g_object_notify_by_pspec(G_OBJECT(self), props[id]);
}

void SetGroupAddress(CorvaneClientCtrl* self, const gchar* value) {
  SetText(self, &Private(self)->group_address, value, PROP_GROUP_ADDRESS);
}

void SetGroupPort(CorvaneClientCtrl* self, gint value) {
  SetInteger(self, &Private(self)->group_port, value, PROP_GROUP_PORT);
}

void SetServerPort(CorvaneClientCtrl* self, gint value) {
  SetInteger(self, &Private(self)->server_port, value, PROP_SERVER_PORT);
}

void SetHailingInterval(CorvaneClientCtrl* self, gint value) {
  SetInteger(self, &Private(self)->hailing_interval, value, PROP_HAILING_INTERVAL);
}

void SetUsingHailingServer(CorvaneClientCtrl* self, gboolean value) {
  SetFlag(self, &Private(self)->using_hailing_server, value, PROP_USING_HAILING_SERVER);
}

void SetAckTimeout(CorvaneClientCtrl* self, gint value) {
  SetInteger(self, &Private(self)->ack_timeout, value, PROP_ACK_TIMEOUT);
}

void SetHealthCheckInterval(CorvaneClientCtrl* self, gint value) {
  SetInteger(self, &Private(self)->health_check_interval, value, PROP_HEALTH_CHECK_INTERVAL);
}

void SetFilePort(CorvaneClientCtrl* self, gint value) {
  SetInteger(self, &Private(self)->file_port, value, PROP_FILE_PORT);
}

void SetFileDirectory(CorvaneClientCtrl* self, const gchar* value) {
  SetText(self, &Private(self)->file_directory, value, PROP_FILE_DIRECTORY);
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
  auto* self = CORVANE_CLIENT_CTRL(object);
  switch (id) {
    case PROP_GROUP_ADDRESS: SetGroupAddress(self, g_value_get_string(value)); break;
    case PROP_GROUP_PORT: SetGroupPort(self, g_value_get_int(value)); break;
    case PROP_SERVER_PORT: SetServerPort(self, g_value_get_int(value)); break;
    case PROP_HAILING_INTERVAL: SetHailingInterval(self, g_value_get_int(value)); break;
    case PROP_USING_HAILING_SERVER: SetUsingHailingServer(self, g_value_get_boolean(value)); break;
    case PROP_ACK_TIMEOUT: SetAckTimeout(self, g_value_get_int(value)); break;
    case PROP_HEALTH_CHECK_INTERVAL: SetHealthCheckInterval(self, g_value_get_int(value)); break;
    case PROP_FILE_PORT: SetFilePort(self, g_value_get_int(value)); break;
    case PROP_FILE_DIRECTORY: SetFileDirectory(self, g_value_get_string(value)); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
  }
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  auto* self = CORVANE_CLIENT_CTRL(object);
  const CorvaneClientCtrlPrivate* priv = Private(self);
  switch (id) {
    case PROP_GROUP_ADDRESS: g_value_set_string(value, priv->group_address); break;
    case PROP_GROUP_PORT: g_value_set_int(value, priv->group_port); break;
    case PROP_SERVER_PORT: g_value_set_int(value, priv->server_port); break;
    case PROP_HAILING_INTERVAL: g_value_set_int(value, priv->hailing_interval); break;
    case PROP_STARTED: g_value_set_boolean(value, corvane_client_ctrl_get_started(self)); break;
    case PROP_HAILING: g_value_set_boolean(value, corvane_client_ctrl_get_hailing(self)); break;
    case PROP_USING_HAILING_SERVER: g_value_set_boolean(value, priv->using_hailing_server); break;
    case PROP_ACK_TIMEOUT: g_value_set_int(value, priv->ack_timeout); break;
    case PROP_HEALTH_CHECK_INTERVAL: g_value_set_int(value, priv->health_check_interval); break;
    case PROP_FILE_PORT: g_value_set_int(value, priv->file_port); break;
    case PROP_FILE_DIRECTORY: g_value_set_string(value, priv->file_directory); break;
    case PROP_APPLICATIONS: g_value_set_object(value, priv->applications); break;
    case PROP_REFUSED_CONNECTIONS: g_value_set_uint64(value, priv->refused_connections); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
  }
}

// Sets every stored property to its default, through the setters.
void ResetStoredProperties(CorvaneClientCtrl* self) {
  g_object_freeze_notify(G_OBJECT(self));
  for (guint id : {PROP_GROUP_ADDRESS, PROP_GROUP_PORT, PROP_SERVER_PORT, PROP_HAILING_INTERVAL,
                   PROP_USING_HAILING_SERVER, PROP_ACK_TIMEOUT, PROP_HEALTH_CHECK_INTERVAL,
                   PROP_FILE_PORT, PROP_FILE_DIRECTORY}) {
    g_object_set_property(G_OBJECT(self), g_param_spec_get_name(props[id]),
                          g_param_spec_get_default_value(props[id]));
  }
  g_object_thaw_notify(G_OBJECT(self));
}

// Builds the engine side around `engine`, replacing the one there was.
void UseEngine(CorvaneClientCtrl* self, std::shared_ptr<Corvane::Client::Quellor> engine) {
  CorvaneClientCtrlPrivate* priv = Private(self);
  delete priv->core;
  priv->core = nullptr;
  priv->core = new ControlCore(std::move(engine), *priv->poster);
}

void Finalize(GObject* object) {
  auto* self = CORVANE_CLIENT_CTRL(object);
  CorvaneClientCtrlPrivate* priv = Private(self);
  {
    std::lock_guard<std::mutex> lock(LivingMutex());
    auto& controls = Living();
    controls.erase(std::remove_if(controls.begin(), controls.end(),
                                  [&](const LivingControl& entry) { return entry.self == self; }),
                   controls.end());
  }
  StopStatePoll(self);
  delete priv->core;
  priv->core = nullptr;
  delete priv->poster;
  priv->poster = nullptr;
  g_main_context_unref(priv->context);
  g_clear_object(&priv->applications);
  g_free(priv->group_address);
  g_free(priv->file_directory);
  G_OBJECT_CLASS(corvane_client_ctrl_parent_class)->finalize(object);
  CorvaneClientApp::Instance().UnlockModule();
}

// Stored properties are written by the host and notified when they change;
// started and hailing are the engine's and read-only. Integer properties take
// any int: the engine checks values at Start and the control returns its code.
constexpr GParamFlags kStored =
    static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_EXPLICIT_NOTIFY | G_PARAM_STATIC_STRINGS);
constexpr GParamFlags kAsked =
    static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_EXPLICIT_NOTIFY | G_PARAM_STATIC_STRINGS);

GParamSpec* IntegerSpec(const char* name, const char* nick, const char* blurb,
                        const Settings::IntegerSetting& setting) {
  return g_param_spec_int(name, nick, blurb, G_MININT, G_MAXINT, setting.defaultValue, kStored);
}

}  // namespace

static void corvane_client_ctrl_class_init(CorvaneClientCtrlClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  object_class->set_property = SetProperty;
  object_class->get_property = GetProperty;
  object_class->finalize = Finalize;

  const std::string group_address = ToUtf8(Settings::kDefaultGroupAddress);
  // files/ beside the module, or the user's own where that is not writable.
  const std::string file_directory = ToUtf8(
      Corvane::Platform::DefaultFileDirectory(CorvaneClientApp::Instance().GetModuleDirectory()));
  const struct {
    guint id;
    GParamSpec* spec;
  } properties[] = {
      /**
       * CorvaneClientCtrl:group-address:
       *
       * Address used for multicast hailing. Default "228.11.11.11"; id 3.
       */
      {PROP_GROUP_ADDRESS,
       g_param_spec_string("group-address", "GroupAddress", "Address used for multicast hailing",
                           group_address.c_str(), kStored)},
      /**
       * CorvaneClientCtrl:group-port:
       *
       * Port used for multicast hailing. Default 45599; id 4. Start accepts 1
       * to 65535.
       */
      {PROP_GROUP_PORT, IntegerSpec("group-port", "GroupPort", "Port used for multicast hailing",
                                    Settings::kGroupPort)},
      /**
       * CorvaneClientCtrl:server-port:
       *
       * Port used to accept connections. Default 45500; id 5. Start accepts 1
       * to 65535.
       */
      {PROP_SERVER_PORT, IntegerSpec("server-port", "ServerPort", "Port used to accept connections",
                                     Settings::kServerPort)},
      /**
       * CorvaneClientCtrl:hailing-interval:
       *
       * Number of milleseconds between hailing messages. Default 15000; id 6.
       */
      {PROP_HAILING_INTERVAL,
       IntegerSpec("hailing-interval", "HailingInterval",
                   "Number of milleseconds between hailing messages", Settings::kHailingInterval)},
      /**
       * CorvaneClientCtrl:started:
       *
       * Is the control started: asked of the engine, %FALSE without one.
       * Notified when Start or Stop of this or any other control of the
       * process (they share the engine) changes it, and when the engine is
       * found to have stopped otherwise. Read-only; id 7.
       */
      {PROP_STARTED,
       g_param_spec_boolean("started", "Started", "Is the control started", FALSE, kAsked)},
      /**
       * CorvaneClientCtrl:hailing:
       *
       * The control is hailing: asked of the engine, %FALSE without one.
       * Notified when hailing begins with Start and when it ends (Stop, or a
       * hailing failure the engine recovers from later). Read-only; id 8.
       */
      {PROP_HAILING,
       g_param_spec_boolean("hailing", "Hailing", "The control is hailing", FALSE, kAsked)},
      /**
       * CorvaneClientCtrl:using-hailing-server:
       *
       * The control should send hailing messages to find Corvane
       * applications. Default %TRUE; id 13.
       */
      {PROP_USING_HAILING_SERVER,
       g_param_spec_boolean("using-hailing-server", "UsingHailingServer",
                            "The control should send hailing messages to find Corvane applications",
                            Settings::kDefaultUsingHailingServer, kStored)},
      /**
       * CorvaneClientCtrl:ack-timeout:
       *
       * The number of milleseconds to wait for an acknowledgement package.
       * Default 30000; id 15.
       */
      {PROP_ACK_TIMEOUT,
       IntegerSpec("ack-timeout", "AckTimeout",
                   "The number of milleseconds to wait for an acknowledgement package",
                   Settings::kAckTimeout)},
      /**
       * CorvaneClientCtrl:health-check-interval:
       *
       * The number of milleseconds to wait between health check messages.
       * Default 60000; id 16.
       */
      {PROP_HEALTH_CHECK_INTERVAL,
       IntegerSpec("health-check-interval", "HealthCheckInterval",
                   "The number of milleseconds to wait between health check messages",
                   Settings::kHealthCheckInterval)},
      /**
       * CorvaneClientCtrl:file-port:
       *
       * Port used to receive files. Default 45501; id 18. Start accepts 1 to
       * 65535.
       */
      {PROP_FILE_PORT,
       IntegerSpec("file-port", "FilePort", "Port used to receive files", Settings::kFilePort)},
      /**
       * CorvaneClientCtrl:file-directory:
       *
       * Directory used to store received files. Default: the control module's
       * directory followed by /files where the user may write there, else
       * $XDG_DATA_HOME/corvane/files; id 19.
       */
      {PROP_FILE_DIRECTORY,
       g_param_spec_string("file-directory", "FileDirectory",
                           "Directory used to store received files", file_directory.c_str(),
                           kStored)},
      /**
       * CorvaneClientCtrl:applications:
       *
       * The connected vendor applications, a #GListModel of
       * #CorvaneClientApplication that stays current: an application is
       * appended when it registers and removed when it leaves, and the model
       * is filled from the engine when the engine starts or the control is
       * created beside a running engine, and emptied when the engine stops.
       * Each application's link health properties are read once a second
       * while the engine runs. A GTK 4 list view binds to it directly. The
       * model itself stays the same object for the control's life.
       * Read-only.
       */
      {PROP_APPLICATIONS,
       g_param_spec_object("applications", "Applications", "The connected vendor applications",
                           G_TYPE_LIST_MODEL,
                           static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS))},
      /**
       * CorvaneClientCtrl:refused-connections:
       *
       * How many connections the site's access rules (`AllowedNetworks`,
       * `AllowedApplicationIds` in engine.ini) have refused since the engine
       * started, as of the last [signal@CorvaneClient.Ctrl::connection-refused].
       * Refusals are reported at most once a minute per address, so the count
       * can run ahead of the signals. Read-only; notified when it changes.
       */
      {PROP_REFUSED_CONNECTIONS,
       g_param_spec_uint64("refused-connections", "RefusedConnections",
                           "Connections refused by the access rules", 0, G_MAXUINT64, 0,
                           static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS |
                                                    G_PARAM_EXPLICIT_NOTIFY))},
  };
  for (const auto& property : properties) {
    props[property.id] = property.spec;
    g_object_class_install_property(object_class, property.id, property.spec);
  }

  /**
   * CorvaneClientCtrl::error-occured:
   * @self: the control
   * @number: the engine's error number, cut to its low 16 bits
   * @description: the error's full text
   *
   * An error that happened on one of the engine's threads (a refused
   * connection, a read error, a failed service thread).
   */
  signals[SIGNAL_ERROR_OCCURED] =
      g_signal_new("error-occured", G_TYPE_FROM_CLASS(klass), G_SIGNAL_RUN_LAST, 0, nullptr,
                   nullptr, nullptr, G_TYPE_NONE, 2, G_TYPE_INT, G_TYPE_STRING);
  /**
   * CorvaneClientCtrl::message-received:
   * @self: the control
   * @message: the XML text
   *
   * A vendor application sent XML data.
   */
  signals[SIGNAL_MESSAGE_RECEIVED] =
      g_signal_new("message-received", G_TYPE_FROM_CLASS(klass), G_SIGNAL_RUN_LAST, 0, nullptr,
                   nullptr, nullptr, G_TYPE_NONE, 1, G_TYPE_STRING);
  /**
   * CorvaneClientCtrl::file-received:
   * @self: the control
   * @file_path: the full path of the file in the file directory
   *
   * A vendor application sent a file, which was checked and stored.
   */
  signals[SIGNAL_FILE_RECEIVED] =
      g_signal_new("file-received", G_TYPE_FROM_CLASS(klass), G_SIGNAL_RUN_LAST, 0, nullptr,
                   nullptr, nullptr, G_TYPE_NONE, 1, G_TYPE_STRING);
  /**
   * CorvaneClientCtrl::application-added:
   * @self: the control
   * @application: the application, as it now stands in the applications model
   *
   * A vendor application completed its handshake and is registered. The
   * application is in [property@CorvaneClient.Ctrl:applications] when the
   * signal is emitted. Needs an engine that reports applications (every
   * control of the process receives it).
   */
  signals[SIGNAL_APPLICATION_ADDED] =
      g_signal_new("application-added", G_TYPE_FROM_CLASS(klass), G_SIGNAL_RUN_LAST, 0, nullptr,
                   nullptr, nullptr, G_TYPE_NONE, 1, CORVANE_CLIENT_TYPE_APPLICATION);
  /**
   * CorvaneClientCtrl::application-removed:
   * @self: the control
   * @application_id: the application's id
   * @reason: why it left: "disconnected", "connection lost", "health check
   *   unanswered", "acknowledgement timeout", "replaced", "closed at a limit"
   *   or "engine stopped"
   *
   * A registered vendor application is gone; it has left
   * [property@CorvaneClient.Ctrl:applications] when the signal is emitted.
   * An application replaced by a reconnect with the same id is removed with
   * "replaced" and added again.
   */
  signals[SIGNAL_APPLICATION_REMOVED] =
      g_signal_new("application-removed", G_TYPE_FROM_CLASS(klass), G_SIGNAL_RUN_LAST, 0,
                   nullptr, nullptr, nullptr, G_TYPE_NONE, 2, G_TYPE_STRING, G_TYPE_STRING);
  /**
   * CorvaneClientCtrl::file-progress:
   * @self: the control
   * @application_id: the sending application's id
   * @file_name: the file's name as the application announced it
   * @bytes_received: bytes received so far
   * @bytes_announced: the file's announced size in bytes
   *
   * How far a file on its way from a vendor application has come: at most
   * about ten times a second per file, and once at its end (when it is
   * stored, "file-received" follows).
   */
  signals[SIGNAL_FILE_PROGRESS] = g_signal_new(
      "file-progress", G_TYPE_FROM_CLASS(klass), G_SIGNAL_RUN_LAST, 0, nullptr, nullptr, nullptr,
      G_TYPE_NONE, 4, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_INT64, G_TYPE_INT64);
  /**
   * CorvaneClientCtrl::connection-refused:
   * @self: the control
   * @address: the peer's IPv4 address
   * @reason: why: "not in AllowedNetworks", or "application id ID not in
   *   AllowedApplicationIds"
   * @refused_so_far: every refusal since the engine started, this one
   *   included
   *
   * The site's access rules refused a connection. Emitted at most once a
   * minute per address, like the engine's log line; the count covers the
   * refusals in between.
   */
  signals[SIGNAL_CONNECTION_REFUSED] = g_signal_new(
      "connection-refused", G_TYPE_FROM_CLASS(klass), G_SIGNAL_RUN_LAST, 0, nullptr, nullptr,
      nullptr, G_TYPE_NONE, 3, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_UINT64);
}

static void corvane_client_ctrl_init(CorvaneClientCtrl* self) {
  CorvaneClientApp::Instance().LockModule();
  CorvaneClientCtrlPrivate* priv = Private(self);
  // The defaults straight from the specs, without marking anything modified.
  priv->group_address = g_strdup(G_PARAM_SPEC_STRING(props[PROP_GROUP_ADDRESS])->default_value);
  priv->group_port = G_PARAM_SPEC_INT(props[PROP_GROUP_PORT])->default_value;
  priv->server_port = G_PARAM_SPEC_INT(props[PROP_SERVER_PORT])->default_value;
  priv->hailing_interval = G_PARAM_SPEC_INT(props[PROP_HAILING_INTERVAL])->default_value;
  priv->using_hailing_server =
      G_PARAM_SPEC_BOOLEAN(props[PROP_USING_HAILING_SERVER])->default_value;
  priv->ack_timeout = G_PARAM_SPEC_INT(props[PROP_ACK_TIMEOUT])->default_value;
  priv->health_check_interval = G_PARAM_SPEC_INT(props[PROP_HEALTH_CHECK_INTERVAL])->default_value;
  priv->file_port = G_PARAM_SPEC_INT(props[PROP_FILE_PORT])->default_value;
  priv->file_directory = g_strdup(G_PARAM_SPEC_STRING(props[PROP_FILE_DIRECTORY])->default_value);
  priv->state_poll_interval = kDefaultStatePollMilliseconds;
  priv->applications = g_list_store_new(CORVANE_CLIENT_TYPE_APPLICATION);

  priv->context = g_main_context_ref_thread_default();
  auto target = std::make_shared<WeakControl>(G_OBJECT(self));
  priv->poster = new MainContextPoster(priv->context, [target](const Notification& notification) {
    gpointer object = g_weak_ref_get(&target->ref);
    if (!object) return;
    Emit(CORVANE_CLIENT_CTRL(object), notification);
    g_object_unref(object);
  });
  UseEngine(self, std::make_unique<Corvane::Control::QuellorProxy>());
  {
    std::lock_guard<std::mutex> lock(LivingMutex());
    Living().push_back({self, target, priv->context});
  }
  // All controls share the engine: it may run already.
  priv->started = Core(self).IsStarted();
  priv->hailing = Core(self).IsHailing();
  if (priv->started) {
    UpdateApplications(self, true);
    StartStatePoll(self);
  }
}

namespace Corvane {
namespace Control {

void UseEngineForTesting(CorvaneClientCtrl* self, std::shared_ptr<Client::Quellor> engine) {
  UseEngine(self, std::move(engine));
  CorvaneClientCtrlPrivate* priv = Private(self);
  StopStatePoll(self);
  g_list_store_remove_all(priv->applications);
  priv->started = Core(self).IsStarted();
  priv->hailing = Core(self).IsHailing();
  if (priv->started) {
    UpdateApplications(self, true);
    StartStatePoll(self);
  }
}

void SetStatePollInterval(CorvaneClientCtrl* self, unsigned milliseconds) {
  Private(self)->state_poll_interval = milliseconds;
  if (Private(self)->state_poll) {
    StopStatePoll(self);
    StartStatePoll(self);
  }
}

}  // namespace Control
}  // namespace Corvane

CorvaneClientCtrl* corvane_client_ctrl_new(void) {
  return CORVANE_CLIENT_CTRL(g_object_new(CORVANE_CLIENT_TYPE_CTRL, nullptr));
}

gint16 corvane_client_ctrl_start(CorvaneClientCtrl* self, const gchar* client_id,
                                 const gchar* connection_name) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), ControlCore::kInternalFailure);
  const CorvaneClientCtrlPrivate* priv = Private(self);
  const gint16 status = Core(self).Start(
      TextOf(client_id), TextOf(connection_name), TextOf(priv->group_address), priv->group_port,
      priv->server_port, priv->hailing_interval, priv->using_hailing_server != FALSE,
      priv->ack_timeout, priv->health_check_interval, priv->file_port,
      TextOf(priv->file_directory));
  SyncEngineState(self);
  TellOtherControls(self);
  return status;
}

gint16 corvane_client_ctrl_stop(CorvaneClientCtrl* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), ControlCore::kInternalFailure);
  const gint16 status = Core(self).Stop();
  SyncEngineState(self);
  TellOtherControls(self);
  return status;
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
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), ControlCore::kInternalFailure);
  if (!client_id) return Core(self).Unregister(nullptr);
  const std::wstring id = FromUtf8(client_id);
  return Core(self).Unregister(&id);
}

gint16 corvane_client_ctrl_send_data(CorvaneClientCtrl* self, const gchar* xml) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), ControlCore::kInternalFailure);
  if (!xml) return Core(self).SendData(nullptr);
  const std::wstring text = FromUtf8(xml);
  return Core(self).SendData(&text);
}

namespace {

// A send to each application on a worker thread: what it sends, and what it
// came to.
struct SendEachTask {
  std::shared_ptr<Corvane::Client::Quellor> engine;
  bool has_xml = false;
  std::wstring xml;
  ControlCore::SendEachResult result;
};

void RunSendEach(GTask* task, gpointer, gpointer data, GCancellable*) {
  auto* send = static_cast<SendEachTask*>(data);
  send->result = ControlCore::SendEach(send->engine, send->has_xml ? &send->xml : nullptr);
  g_task_return_boolean(task, TRUE);
}

GPtrArray* OutcomeObjects(const std::vector<Corvane::Client::SendOutcome>& outcomes) {
  GPtrArray* array = g_ptr_array_new_full(outcomes.size(), g_object_unref);
  for (const auto& outcome : outcomes) {
    g_ptr_array_add(array, Corvane::Control::NewSendOutcomeObject(outcome));
  }
  return array;
}

}  // namespace

GPtrArray* corvane_client_ctrl_send_data_each(CorvaneClientCtrl* self, const gchar* xml,
                                              gint16* status) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), nullptr);
  std::vector<Corvane::Client::SendOutcome> outcomes;
  gint16 sent = 0;
  if (xml) {
    const std::wstring text = FromUtf8(xml);
    sent = Core(self).SendDataEach(&text, outcomes);
  } else {
    sent = Core(self).SendDataEach(nullptr, outcomes);
  }
  if (status) *status = sent;
  return OutcomeObjects(outcomes);
}

void corvane_client_ctrl_send_data_each_async(CorvaneClientCtrl* self, const gchar* xml,
                                              GCancellable* cancellable,
                                              GAsyncReadyCallback callback, gpointer user_data) {
  g_return_if_fail(CORVANE_CLIENT_IS_CTRL(self));
  auto* send = new SendEachTask;
  send->engine = Core(self).GetEngine();
  send->has_xml = xml != nullptr;
  if (xml) send->xml = FromUtf8(xml);
  GTask* task = g_task_new(self, cancellable, callback, user_data);
  g_task_set_source_tag(task, reinterpret_cast<gpointer>(corvane_client_ctrl_send_data_each_async));
  // What went out is reported whatever the cancellable says.
  g_task_set_check_cancellable(task, FALSE);
  g_task_set_task_data(task, send, [](gpointer data) { delete static_cast<SendEachTask*>(data); });
  g_task_run_in_thread(task, RunSendEach);
  g_object_unref(task);
}

GPtrArray* corvane_client_ctrl_send_data_each_finish(CorvaneClientCtrl* self,
                                                     GAsyncResult* result, gint16* status) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), nullptr);
  g_return_val_if_fail(g_task_is_valid(result, self), nullptr);
  GTask* task = G_TASK(result);
  g_task_propagate_boolean(task, nullptr);
  auto* send = static_cast<SendEachTask*>(g_task_get_task_data(task));
  std::vector<Corvane::Client::SendOutcome> outcomes;
  const gint16 sent = Core(self).Take(std::move(send->result), outcomes);
  if (status) *status = sent;
  return OutcomeObjects(outcomes);
}

GListModel* corvane_client_ctrl_get_applications_model(CorvaneClientCtrl* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), nullptr);
  return G_LIST_MODEL(Private(self)->applications);
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
  // Read afresh; a change seen here is notified at once.
  SyncEngineState(self);
  return Private(self)->started;
}

gboolean corvane_client_ctrl_get_hailing(CorvaneClientCtrl* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), FALSE);
  SyncEngineState(self);
  return Private(self)->hailing;
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
  ResetStoredProperties(self);
}

gboolean corvane_client_ctrl_get_modified(CorvaneClientCtrl* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_CTRL(self), FALSE);
  return Private(self)->modified;
}

void corvane_client_ctrl_save_to_key_file(CorvaneClientCtrl* self, GKeyFile* key_file,
                                          const gchar* group) {
  g_return_if_fail(CORVANE_CLIENT_IS_CTRL(self));
  g_return_if_fail(key_file != nullptr);
  Corvane::Control::PropertyKeyFile::Save(G_OBJECT(self),
                                          CorvaneClientApp::Instance().GetVersionWord(), key_file,
                                          group ? group : CORVANE_CLIENT_PERSIST_GROUP);
  Private(self)->modified = FALSE;
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
  if (!Corvane::Control::PropertyKeyFile::Load(
          key_file, group ? group : CORVANE_CLIENT_PERSIST_GROUP, G_OBJECT(self), error)) {
    return FALSE;
  }
  Private(self)->modified = FALSE;
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
    Corvane::Control::PropertyKeyFile::Save(G_OBJECT(self),
                                            CorvaneClientApp::Instance().GetVersionWord(),
                                            key_file, CORVANE_CLIENT_PERSIST_GROUP);
    saved = g_key_file_save_to_file(key_file, path, error);
    if (saved) Private(self)->modified = FALSE;
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
