// The Application automation object as a GObject with four read-only
// properties; each living one keeps the control module loaded.

#include "control/CorvaneClientApplication.h"

#include "control/ApplicationObjects.h"
#include "control/CorvaneClientApp.h"
#include "platform/TextConversion.h"

struct _CorvaneClientApplication {
  GObject parent_instance;
  gchar* id;
  gchar* name;
  gchar* address;
  gint version;
};

G_DEFINE_TYPE(CorvaneClientApplication, corvane_client_application, G_TYPE_OBJECT)

namespace {

// Property ids are the dispatch ids of the Application interface.
enum { PROP_ID = 1, PROP_NAME, PROP_ADDRESS, PROP_VERSION };

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  auto* self = CORVANE_CLIENT_APPLICATION(object);
  switch (id) {
    case PROP_ID: g_value_set_string(value, self->id); break;
    case PROP_NAME: g_value_set_string(value, self->name); break;
    case PROP_ADDRESS: g_value_set_string(value, self->address); break;
    case PROP_VERSION: g_value_set_int(value, self->version); break;
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

GParamSpec* TextProperty(const char* name, const char* nick, const char* blurb) {
  return g_param_spec_string(name, nick, blurb, "",
                             static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS));
}

}  // namespace

static void corvane_client_application_class_init(CorvaneClientApplicationClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  object_class->get_property = GetProperty;
  object_class->finalize = Finalize;
  g_object_class_install_property(
      object_class, PROP_ID, TextProperty("id", "ID", "Identifier of the application"));
  g_object_class_install_property(object_class, PROP_NAME,
                                  TextProperty("name", "Name", "Name of the application"));
  g_object_class_install_property(object_class, PROP_ADDRESS,
                                  TextProperty("address", "Address", "Address of the application"));
  g_object_class_install_property(
      object_class, PROP_VERSION,
      g_param_spec_int("version", "Version", "Version of the attached application", G_MININT,
                       G_MAXINT, 1,
                       static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));
}

static void corvane_client_application_init(CorvaneClientApplication* self) {
  Corvane::Control::CorvaneClientApp::Instance().LockModule();
  self->id = g_strdup("");
  self->name = g_strdup("");
  self->address = g_strdup("");
  self->version = 1;
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

namespace Corvane {
namespace Control {

CorvaneClientApplication* NewApplicationObject(const ApplicationRecord& record) {
  CorvaneClientApplication* self = corvane_client_application_new();
  g_free(self->id);
  g_free(self->name);
  g_free(self->address);
  self->id = g_strdup(Platform::ToUtf8(record.id).c_str());
  self->name = g_strdup(Platform::ToUtf8(record.name).c_str());
  self->address = g_strdup(Platform::ToUtf8(record.address).c_str());
  self->version = record.version;
  return self;
}

}  // namespace Control
}  // namespace Corvane
