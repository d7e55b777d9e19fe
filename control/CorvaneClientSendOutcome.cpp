// The outcome of a send for one application as a GObject with three
// read-only properties; each living one keeps the control module loaded.

#include "control/CorvaneClientSendOutcome.h"

#include "control/ControlCore.h"
#include "control/CorvaneClientApp.h"
#include "control/SendOutcomeObjects.h"
#include "platform/TextConversion.h"

struct _CorvaneClientSendOutcome {
  GObject parent_instance;
  gchar* application_id;
  gint status;
  gchar* message;
};

G_DEFINE_TYPE(CorvaneClientSendOutcome, corvane_client_send_outcome, G_TYPE_OBJECT)

namespace {

enum { PROP_0, PROP_APPLICATION_ID, PROP_STATUS, PROP_MESSAGE, PROP_LAST };

GParamSpec* props[PROP_LAST];

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
  auto* self = CORVANE_CLIENT_SEND_OUTCOME(object);
  switch (id) {
    case PROP_APPLICATION_ID: g_value_set_string(value, self->application_id); break;
    case PROP_STATUS: g_value_set_int(value, self->status); break;
    case PROP_MESSAGE: g_value_set_string(value, self->message); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
  }
}

void Finalize(GObject* object) {
  auto* self = CORVANE_CLIENT_SEND_OUTCOME(object);
  g_free(self->application_id);
  g_free(self->message);
  G_OBJECT_CLASS(corvane_client_send_outcome_parent_class)->finalize(object);
  Corvane::Control::CorvaneClientApp::Instance().UnlockModule();
}

constexpr GParamFlags kReadOnly =
    static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS);

}  // namespace

static void corvane_client_send_outcome_class_init(CorvaneClientSendOutcomeClass* klass) {
  GObjectClass* object_class = G_OBJECT_CLASS(klass);
  object_class->get_property = GetProperty;
  object_class->finalize = Finalize;
  props[PROP_APPLICATION_ID] = g_param_spec_string(
      "application-id", "ApplicationId", "Identifier of the application", "", kReadOnly);
  props[PROP_STATUS] = g_param_spec_int("status", "Status", "0, or the code of the failure",
                                        G_MININT, G_MAXINT, 0, kReadOnly);
  props[PROP_MESSAGE] = g_param_spec_string(
      "message", "Message", "Why the application did not get the XML", "", kReadOnly);
  g_object_class_install_properties(object_class, PROP_LAST, props);
}

static void corvane_client_send_outcome_init(CorvaneClientSendOutcome* self) {
  Corvane::Control::CorvaneClientApp::Instance().LockModule();
  self->application_id = g_strdup("");
  self->message = g_strdup("");
}

const gchar* corvane_client_send_outcome_get_application_id(CorvaneClientSendOutcome* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_SEND_OUTCOME(self), nullptr);
  return self->application_id;
}

gint corvane_client_send_outcome_get_status(CorvaneClientSendOutcome* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_SEND_OUTCOME(self), 0);
  return self->status;
}

const gchar* corvane_client_send_outcome_get_message(CorvaneClientSendOutcome* self) {
  g_return_val_if_fail(CORVANE_CLIENT_IS_SEND_OUTCOME(self), nullptr);
  return self->message;
}

namespace Corvane {
namespace Control {

CorvaneClientSendOutcome* NewSendOutcomeObject(const Client::SendOutcome& outcome) {
  auto* self = CORVANE_CLIENT_SEND_OUTCOME(g_object_new(CORVANE_CLIENT_TYPE_SEND_OUTCOME, nullptr));
  g_free(self->application_id);
  g_free(self->message);
  self->application_id = g_strdup(Platform::ToUtf8(outcome.applicationId).c_str());
  self->status = ControlCore::ToStatus(outcome.status);
  self->message = g_strdup(Platform::ToUtf8(outcome.message).c_str());
  return self;
}

}  // namespace Control
}  // namespace Corvane
