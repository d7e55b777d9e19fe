#include "control/PropertyKeyFile.h"

#include "control/CorvaneClientCtrl.h"
#include "platform/TextConversion.h"

namespace Corvane {
namespace Control {

namespace {

const char kVersion[] = "Version";
const char kGroupAddress[] = "GroupAddress";
const char kGroupPort[] = "GroupPort";
const char kServerPort[] = "ServerPort";
const char kHailingInterval[] = "HailingInterval";
const char kAckTimeout[] = "AckTimeout";
const char kUsingHailingServer[] = "UsingHailingServer";
const char kHealthCheckInterval[] = "HealthCheckInterval";
const char kFilePort[] = "FilePort";
const char kFileDirectory[] = "FileDirectory";

// Reads one key with `read` unless the group lacks it; false with `error`
// set when its value cannot be read.
template <typename Value, typename Read>
bool ReadKey(GKeyFile* keyFile, const char* group, const char* key, Value& value, Read read,
             GError** error) {
  if (!g_key_file_has_key(keyFile, group, key, nullptr)) return true;
  GError* failure = nullptr;
  Value read_value = read(keyFile, group, key, &failure);
  if (failure) {
    g_set_error(error, CORVANE_CLIENT_ERROR, CORVANE_CLIENT_ERROR_INVALID_PROPERTIES,
                "Property %s in group [%s] cannot be read: %s", key, group, failure->message);
    g_error_free(failure);
    return false;
  }
  value = read_value;
  return true;
}

std::wstring ReadText(GKeyFile* keyFile, const char* group, const char* key, GError** error) {
  gchar* text = g_key_file_get_string(keyFile, group, key, error);
  if (!text) return std::wstring();
  std::wstring wide = Platform::FromUtf8(text);
  g_free(text);
  return wide;
}

}  // namespace

void PropertyKeyFile::Save(const ControlProperties& properties, std::uint32_t versionWord,
                           GKeyFile* keyFile, const char* group) {
  g_key_file_remove_group(keyFile, group, nullptr);
  g_key_file_set_uint64(keyFile, group, kVersion, versionWord);
  g_key_file_set_string(keyFile, group, kGroupAddress,
                        Platform::ToUtf8(properties.groupAddress).c_str());
  g_key_file_set_integer(keyFile, group, kGroupPort, properties.groupPort);
  g_key_file_set_integer(keyFile, group, kServerPort, properties.serverPort);
  g_key_file_set_integer(keyFile, group, kHailingInterval, properties.hailingInterval);
  g_key_file_set_integer(keyFile, group, kAckTimeout, properties.ackTimeout);
  g_key_file_set_boolean(keyFile, group, kUsingHailingServer, properties.usingHailingServer);
  g_key_file_set_integer(keyFile, group, kHealthCheckInterval, properties.healthCheckInterval);
  g_key_file_set_integer(keyFile, group, kFilePort, properties.filePort);
  g_key_file_set_string(keyFile, group, kFileDirectory,
                        Platform::ToUtf8(properties.fileDirectory).c_str());
}

bool PropertyKeyFile::Load(GKeyFile* keyFile, const char* group, const ControlProperties& defaults,
                           ControlProperties& properties, GError** error) {
  if (!g_key_file_has_group(keyFile, group)) {
    g_set_error(error, CORVANE_CLIENT_ERROR, CORVANE_CLIENT_ERROR_INVALID_PROPERTIES,
                "No saved properties: the key file has no group [%s]", group);
    return false;
  }
  ControlProperties loaded = defaults;
  guint64 version = 0;
  const bool read = ReadKey(keyFile, group, kVersion, version, g_key_file_get_uint64, error) &&
                    ReadKey(keyFile, group, kGroupAddress, loaded.groupAddress, ReadText, error) &&
                    ReadKey(keyFile, group, kGroupPort, loaded.groupPort, g_key_file_get_integer,
                            error) &&
                    ReadKey(keyFile, group, kServerPort, loaded.serverPort,
                            g_key_file_get_integer, error) &&
                    ReadKey(keyFile, group, kHailingInterval, loaded.hailingInterval,
                            g_key_file_get_integer, error) &&
                    ReadKey(keyFile, group, kAckTimeout, loaded.ackTimeout,
                            g_key_file_get_integer, error) &&
                    ReadKey(keyFile, group, kUsingHailingServer, loaded.usingHailingServer,
                            [](GKeyFile* file, const char* g, const char* k, GError** e) {
                              return g_key_file_get_boolean(file, g, k, e) != FALSE;
                            },
                            error) &&
                    ReadKey(keyFile, group, kHealthCheckInterval, loaded.healthCheckInterval,
                            g_key_file_get_integer, error) &&
                    ReadKey(keyFile, group, kFilePort, loaded.filePort, g_key_file_get_integer,
                            error) &&
                    ReadKey(keyFile, group, kFileDirectory, loaded.fileDirectory, ReadText, error);
  if (!read) return false;
  properties = loaded;
  return true;
}

}  // namespace Control
}  // namespace Corvane
