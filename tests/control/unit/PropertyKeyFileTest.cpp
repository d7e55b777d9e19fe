#include "control/PropertyKeyFile.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "control/CorvaneClientCtrl.h"
#include "platform/TextConversion.h"

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

// Values unlike the defaults in every field.
ControlProperties Unusual() {
  ControlProperties p;
  p.groupAddress = L"239.255.0.1";
  p.groupPort = 1001;
  p.serverPort = 1002;
  p.hailingInterval = 1003;
  p.usingHailingServer = false;
  p.ackTimeout = 1004;
  p.healthCheckInterval = 1005;
  p.filePort = 1006;
  p.fileDirectory = L"/srv/in";
  return p;
}

// Loads `text`, expecting failure; the properties must be left as they were.
std::string ExpectLoadFails(const std::string& text) {
  KeyFile file = Parse(text);
  const ControlProperties before = Unusual();
  ControlProperties properties = before;
  GError* error = nullptr;
  EXPECT_FALSE(PropertyKeyFile::Load(file.get(), kGroup, ControlProperties::Defaults(L"/d"),
                                     properties, &error));
  EXPECT_EQ(properties, before);
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

  PropertyKeyFile::Save(Unusual(), kVersionWord, file.get(), kGroup);

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
  ControlProperties saved = Unusual();
  saved.groupAddress = L"  ff02::1 ";
  saved.fileDirectory = L"/srv/Gr\u00fc\u00dfe/\U0001D11E \\ files\n2";
  KeyFile file = NewKeyFile();
  PropertyKeyFile::Save(saved, kVersionWord, file.get(), kGroup);
  const std::string text = ToText(file.get());
  // Stored as UTF-8, not escaped away.
  EXPECT_NE(text.find("Gr\xc3\xbc\xc3\x9f" "e/\xf0\x9d\x84\x9e"), std::string::npos) << text;

  KeyFile reread = Parse(text);
  ControlProperties loaded;
  GError* error = nullptr;
  ASSERT_TRUE(PropertyKeyFile::Load(reread.get(), kGroup, ControlProperties::Defaults(L"/d"),
                                    loaded, &error))
      << error->message;
  EXPECT_EQ(loaded, saved);
}

TEST(PropertyKeyFileTest, MissingKeysTakeTheirDefaults) {
  KeyFile file = Parse("[CorvaneClient]\nGroupPort=1234\nFileDirectory=/x\n");
  const ControlProperties defaults = ControlProperties::Defaults(L"/opt/corvane");
  ControlProperties properties = Unusual();

  ASSERT_TRUE(PropertyKeyFile::Load(file.get(), kGroup, defaults, properties, nullptr));

  ControlProperties expected = defaults;
  expected.groupPort = 1234;
  expected.fileDirectory = L"/x";
  EXPECT_EQ(properties, expected);
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
