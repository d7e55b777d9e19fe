#include "control/PropertyKeyFile.h"

#include <array>

#include "control/CorvaneClientCtrl.h"

namespace Corvane {
namespace Control {

namespace {

const char kVersion[] = "Version";

// The stored properties in their saved order; each is saved under its nick
// (GroupAddress, GroupPort, ...).
constexpr std::array<const char*, 9> kSaved = {
    "group-address", "group-port",            "server-port", "hailing-interval",
    "ack-timeout",   "using-hailing-server",  "health-check-interval",
    "file-port",     "file-directory"};

GParamSpec* SpecOf(GObject* control, const char* name) {
  return g_object_class_find_property(G_OBJECT_GET_CLASS(control), name);
}

// Reads `key` into `value` (initialised to the property's type); false with
// `failure` set when it cannot be read.
bool ReadKey(GKeyFile* keyFile, const char* group, const char* key, GValue* value,
             GError** failure) {
  switch (G_VALUE_TYPE(value)) {
    case G_TYPE_INT: {
      const gint number = g_key_file_get_integer(keyFile, group, key, failure);
      g_value_set_int(value, number);
      break;
    }
    case G_TYPE_BOOLEAN: {
      const gboolean flag = g_key_file_get_boolean(keyFile, group, key, failure);
      g_value_set_boolean(value, flag);
      break;
    }
    default: {
      gchar* text = g_key_file_get_string(keyFile, group, key, failure);
      g_value_take_string(value, text);
      break;
    }
  }
  return *failure == nullptr;
}

bool Refuse(const char* key, const char* group, GError* failure, GError** error) {
  g_set_error(error, CORVANE_CLIENT_ERROR, CORVANE_CLIENT_ERROR_INVALID_PROPERTIES,
              "Property %s in group [%s] cannot be read: %s", key, group, failure->message);
  g_error_free(failure);
  return false;
}

}  // namespace

void PropertyKeyFile::Save(GObject* control, std::uint32_t versionWord, GKeyFile* keyFile,
                           const char* group) {
  g_key_file_remove_group(keyFile, group, nullptr);
  g_key_file_set_uint64(keyFile, group, kVersion, versionWord);
  for (const char* name : kSaved) {
    GParamSpec* spec = SpecOf(control, name);
    const char* key = g_param_spec_get_nick(spec);
    GValue value = G_VALUE_INIT;
    g_value_init(&value, G_PARAM_SPEC_VALUE_TYPE(spec));
    g_object_get_property(control, name, &value);
    switch (G_VALUE_TYPE(&value)) {
      case G_TYPE_INT: g_key_file_set_integer(keyFile, group, key, g_value_get_int(&value)); break;
      case G_TYPE_BOOLEAN:
        g_key_file_set_boolean(keyFile, group, key, g_value_get_boolean(&value));
        break;
      default: {
        const char* text = g_value_get_string(&value);
        g_key_file_set_string(keyFile, group, key, text ? text : "");
        break;
      }
    }
    g_value_unset(&value);
  }
}

bool PropertyKeyFile::Load(GKeyFile* keyFile, const char* group, GObject* control,
                           GError** error) {
  if (!g_key_file_has_group(keyFile, group)) {
    g_set_error(error, CORVANE_CLIENT_ERROR, CORVANE_CLIENT_ERROR_INVALID_PROPERTIES,
                "No saved properties: the key file has no group [%s]", group);
    return false;
  }
  GError* failure = nullptr;
  if (g_key_file_has_key(keyFile, group, kVersion, nullptr)) {
    g_key_file_get_uint64(keyFile, group, kVersion, &failure);
    if (failure) return Refuse(kVersion, group, failure, error);
  }
  // Every value is read before any is set, so a bad one changes nothing.
  std::array<GValue, kSaved.size()> values{};
  bool read = true;
  for (std::size_t i = 0; i < kSaved.size(); ++i) {
    GParamSpec* spec = SpecOf(control, kSaved[i]);
    const char* key = g_param_spec_get_nick(spec);
    g_value_init(&values[i], G_PARAM_SPEC_VALUE_TYPE(spec));
    if (!g_key_file_has_key(keyFile, group, key, nullptr)) {
      g_param_value_set_default(spec, &values[i]);
    } else if (read && !ReadKey(keyFile, group, key, &values[i], &failure)) {
      read = Refuse(key, group, failure, error);
    }
  }
  if (read) {
    g_object_freeze_notify(control);
    for (std::size_t i = 0; i < kSaved.size(); ++i) {
      g_object_set_property(control, kSaved[i], &values[i]);
    }
    g_object_thaw_notify(control);
  }
  for (GValue& value : values) g_value_unset(&value);
  return read;
}

}  // namespace Control
}  // namespace Corvane
