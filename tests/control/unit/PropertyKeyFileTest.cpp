#include "control/PropertyKeyFile.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "control/CorvaneClientCtrl.h"

namespace Corvane {
namespace Control {
namespace {

constexpr char kGroup[] = "CorvaneClient";
constexpr std::uint32_t kVersionWord = 0x00020009u;

using KeyFile = std::unique_ptr<GKeyFile, decltype(&g_key_file_free)>;

KeyFile NewKeyFile() { return KeyFile(g_key_file_new(), &g_key_file_free); }

KeyFile Parse(const std::string& text) {
  KeyFile file = NewKeyFile();
  GError* error = nullptr;
  if (!g_key_file_load_from_data(file.get(), text.c_str(), text.size(), G_KEY_FILE_NONE,
                                 &error)) {
    ADD_FAILURE() << error->message;
    g_error_free(error);
  }
  return file;
}

std::string ToText(GKeyFile* file) {
  gchar* data = g_key_file_to_data(file, nullptr, nullptr);
  std::string text = data;
  g_free(data);
  return text;
}

std::vector<std::string> KeysOf(GKeyFile* file, const char* group) {
  std::vector<std::string> keys;
  gchar** list = g_key_file_get_keys(file, group, nullptr, nullptr);
  for (gchar** key = list; key && *key; ++key) keys.push_back(*key);
  g_strfreev(list);
  return keys;
}

using Control = std::unique_ptr<CorvaneClientCtrl, decltype(&g_object_unref)>;

Control NewControl() { return Control(corvane_client_ctrl_new(), &g_object_unref); }

// A control with values unlike the defaults in every stored property.
Control Unusual() {
  Control control = NewControl();
  g_object_set(control.get(), "group-address", "239.255.0.1", "group-port", 1001, "server-port",
               1002, "hailing-interval", 1003, "using-hailing-server", FALSE, "ack-timeout", 1004,
               "health-check-interval", 1005, "file-port", 1006, "file-directory", "/srv/in",
               nullptr);
  return control;
}

// Every stored property's value as text, by name.
std::map<std::string, std::string> ValuesOf(CorvaneClientCtrl* control) {
  std::map<std::string, std::string> values;
  for (const char* name : {"group-address", "group-port", "server-port", "hailing-interval",
                           "using-hailing-server", "ack-timeout", "health-check-interval",
                           "file-port", "file-directory"}) {
    GValue value = G_VALUE_INIT;
    g_object_get_property(G_OBJECT(control), name, &value);
    gchar* text = g_strdup_value_contents(&value);
    values[name] = text;
    g_free(text);
    g_value_unset(&value);
  }
  return values;
}

// Loads `text`, expecting failure; the properties must be left as they were.
std::string ExpectLoadFails(const std::string& text) {
  KeyFile file = Parse(text);
  Control control = Unusual();
  const auto before = ValuesOf(control.get());
  GError* error = nullptr;
  EXPECT_FALSE(PropertyKeyFile::Load(file.get(), kGroup, G_OBJECT(control.get()), &error));
  EXPECT_EQ(ValuesOf(control.get()), before);
  if (!error) {
    ADD_FAILURE() << "no error";
    return "";
  }
  EXPECT_EQ(error->domain, CORVANE_CLIENT_ERROR);
  EXPECT_EQ(error->code, CORVANE_CLIENT_ERROR_INVALID_PROPERTIES);
  std::string message = error->message;
  g_error_free(error);
  return message;
}

TEST(PropertyKeyFileTest, SavesVersionFirstThenThePropertiesInExchangeOrder) {
  KeyFile file = Parse("[Other]\nKept=1\n[CorvaneClient]\nObsolete=yes\nGroupPort=1\n");

  PropertyKeyFile::Save(G_OBJECT(Unusual().get()), kVersionWord, file.get(), kGroup);

  EXPECT_EQ(KeysOf(file.get(), kGroup),
            (std::vector<std::string>{"Version", "GroupAddress", "GroupPort", "ServerPort",
                                      "HailingInterval", "AckTimeout", "UsingHailingServer",
                                      "HealthCheckInterval", "FilePort", "FileDirectory"}));
  EXPECT_EQ(g_key_file_get_uint64(file.get(), kGroup, "Version", nullptr), kVersionWord);
  EXPECT_EQ(g_key_file_get_integer(file.get(), kGroup, "GroupPort", nullptr), 1001);
  EXPECT_FALSE(g_key_file_get_boolean(file.get(), kGroup, "UsingHailingServer", nullptr));
  // Other groups are left alone.
  EXPECT_EQ(g_key_file_get_integer(file.get(), "Other", "Kept", nullptr), 1);
}

TEST(PropertyKeyFileTest, RoundTripKeepsEveryValueAndAnyText) {
  Control saved = Unusual();
  g_object_set(saved.get(), "group-address", "  ff02::1 ", "file-directory",
               "/srv/Gr\xc3\xbc\xc3\x9f" "e/\xf0\x9d\x84\x9e \\ files\n2", nullptr);
  KeyFile file = NewKeyFile();
  PropertyKeyFile::Save(G_OBJECT(saved.get()), kVersionWord, file.get(), kGroup);
  const std::string text = ToText(file.get());
  // Stored as UTF-8, not escaped away.
  EXPECT_NE(text.find("Gr\xc3\xbc\xc3\x9f" "e/\xf0\x9d\x84\x9e"), std::string::npos) << text;

  KeyFile reread = Parse(text);
  Control loaded = NewControl();
  GError* error = nullptr;
  ASSERT_TRUE(PropertyKeyFile::Load(reread.get(), kGroup, G_OBJECT(loaded.get()), &error))
      << error->message;
  EXPECT_EQ(ValuesOf(loaded.get()), ValuesOf(saved.get()));
}

TEST(PropertyKeyFileTest, MissingKeysTakeTheirDefaults) {
  KeyFile file = Parse("[CorvaneClient]\nGroupPort=1234\nFileDirectory=/x\n");
  Control control = Unusual();

  ASSERT_TRUE(PropertyKeyFile::Load(file.get(), kGroup, G_OBJECT(control.get()), nullptr));

  Control expected = NewControl();
  g_object_set(expected.get(), "group-port", 1234, "file-directory", "/x", nullptr);
  EXPECT_EQ(ValuesOf(control.get()), ValuesOf(expected.get()));
}

TEST(PropertyKeyFileTest, UnreadableValueFailsNamingTheKeyAndChangesNothing) {
  EXPECT_NE(ExpectLoadFails("[CorvaneClient]\nGroupAddress=239.0.0.9\nGroupPort=abc\n")
                .find("GroupPort"),
            std::string::npos);
  // A bad value late in the order: nothing read before it is kept either.
  EXPECT_NE(
      ExpectLoadFails("[CorvaneClient]\nGroupPort=1\nServerPort=2\nUsingHailingServer=maybe\n")
          .find("UsingHailingServer"),
      std::string::npos);
  EXPECT_NE(ExpectLoadFails("[CorvaneClient]\nFilePort=99999999999\n").find("FilePort"),
            std::string::npos);
  EXPECT_NE(ExpectLoadFails("[CorvaneClient]\nVersion=-1x\n").find("Version"), std::string::npos);
}

TEST(PropertyKeyFileTest, MissingGroupFails) {
  EXPECT_NE(ExpectLoadFails("[Other]\nGroupPort=1\n").find(kGroup), std::string::npos);
}

}  // namespace
}  // namespace Control
}  // namespace Corvane
