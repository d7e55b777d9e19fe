#include "control/ModuleRegistration.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "control/CorvaneClientModule.h"
#include "support/TempDir.h"

namespace Corvane {
namespace Control {
namespace {

using Testing::ReadFile;
using Testing::TempDir;

const char kEventSourcePrefix[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
const std::string kControlKey = std::string("CLSID\\") + CORVANE_CLIENT_CLSID_CTRL;
const std::string kPropPageKey = std::string("CLSID\\") + CORVANE_CLIENT_CLSID_PROP_PAGE;
const std::string kApplicationKey = std::string("CLSID\\") + CORVANE_CLIENT_CLSID_APPLICATION;
const std::string kTypeLibKey = std::string("TypeLib\\") + CORVANE_CLIENT_LIBID + "\\2.0";

// The registry file as written: group -> (entry -> value).
using Groups = std::map<std::string, std::map<std::string, std::string>>;

Groups ReadGroups(const std::string& path) {
  Groups groups;
  GKeyFile* file = g_key_file_new();
  if (g_key_file_load_from_file(file, path.c_str(), G_KEY_FILE_NONE, nullptr)) {
    gchar** names = g_key_file_get_groups(file, nullptr);
    for (gchar** group = names; *group; ++group) {
      auto& entries = groups[*group];
      gchar** keys = g_key_file_get_keys(file, *group, nullptr, nullptr);
      for (gchar** key = keys; *key; ++key) {
        gchar* value = g_key_file_get_string(file, *group, *key, nullptr);
        entries[*key] = value ? value : "<unreadable>";
        g_free(value);
      }
      g_strfreev(keys);
    }
    g_strfreev(names);
  }
  g_key_file_unref(file);
  return groups;
}

class ModuleRegistrationTest : public ::testing::Test {
 protected:
  ModuleRegistrationTest() { module_.WriteFile("CorvaneClient-1.0.typelib", "typelib"); }

  std::string ModuleDirectory() const { return module_.Path().string(); }
  std::string RegistryPath() const { return (registry_ / "registry.ini").string(); }

  ModuleRegistration Registration(VersionPair version = {2, 0}) const {
    return ModuleRegistration(module_.WidePath(), RegistryPath(), version);
  }

  Groups Registry() const { return ReadGroups(RegistryPath()); }

  TempDir module_;
  TempDir registry_;
};

TEST_F(ModuleRegistrationTest, RegistersTheTypeLibraryEveryClassAndTheirProgIds) {
  ASSERT_EQ(Registration().Register(), CORVANE_CLIENT_S_OK);
  const std::string module = ModuleDirectory() + "/CorvaneClient.so";
  const Groups expected = {
      {kTypeLibKey,
       {{"HelpString", "CorvaneClient ActiveX Control module"},
        {"Path", ModuleDirectory() + "/CorvaneClient-1.0.typelib"},
        {"Namespace", "CorvaneClient"},
        {"NamespaceVersion", "1.0"}}},
      {std::string(kEventSourcePrefix) + "Corvane",
       {{"EventMessageFile", ""}, {"TypesSupported", "7"}}},
      {kControlKey,
       {{"TypeName", "CorvaneClient Control"},
        {"ProgID", "CORVANECLIENT.CorvaneClientCtrl.1"},
        {"InprocServer32", module},
        {"ThreadingModel", "Apartment"},
        {"GType", "CorvaneClientCtrl"},
        {"MiscStatus", "132497"},
        {"ToolboxBitmap32", module + ", 1"},
        {"TypeLib", CORVANE_CLIENT_LIBID},
        {"Version", "2.0"}}},
      {"ProgID\\CORVANECLIENT.CorvaneClientCtrl.1",
       {{"CLSID", CORVANE_CLIENT_CLSID_CTRL}, {"TypeName", "CorvaneClient Control"}}},
      {kPropPageKey,
       {{"TypeName", "CorvaneClient Property Page"},
        {"ProgID", "CORVANECLIENT.CorvaneClientPropPage.1"},
        {"InprocServer32", module},
        {"ThreadingModel", "Apartment"},
        {"GType", "CorvaneClientPropPage"}}},
      {"ProgID\\CORVANECLIENT.CorvaneClientPropPage.1",
       {{"CLSID", CORVANE_CLIENT_CLSID_PROP_PAGE}, {"TypeName", "CorvaneClient Property Page"}}},
      {kApplicationKey,
       {{"TypeName", "CorvaneClient.Application"},
        {"ProgID", "CorvaneClient.Application"},
        {"InprocServer32", module},
        {"ThreadingModel", "Apartment"},
        {"GType", "CorvaneClientApplication"}}},
      {"ProgID\\CorvaneClient.Application",
       {{"CLSID", CORVANE_CLIENT_CLSID_APPLICATION}, {"TypeName", "CorvaneClient.Application"}}},
  };
  EXPECT_EQ(Registry(), expected);
  // Registering again changes nothing.
  ASSERT_EQ(Registration().Register(), CORVANE_CLIENT_S_OK);
  EXPECT_EQ(Registry(), expected);
}

TEST_F(ModuleRegistrationTest, VersionPairNamesTheTypeLibraryAndTheControlVersion) {
  ASSERT_EQ(Registration({3, 11}).Register(), CORVANE_CLIENT_S_OK);
  const Groups groups = Registry();
  EXPECT_EQ(groups.count(std::string("TypeLib\\") + CORVANE_CLIENT_LIBID + "\\3.11"), 1u);
  EXPECT_EQ(groups.count(kTypeLibKey), 0u);
  EXPECT_EQ(groups.at(kControlKey).at("Version"), "3.11");
}

TEST_F(ModuleRegistrationTest, MissingTypeLibraryFailsBeforeAnythingIsWritten) {
  std::filesystem::remove(module_ / "CorvaneClient-1.0.typelib");
  EXPECT_EQ(Registration().Register(), CORVANE_CLIENT_SELFREG_E_TYPELIB);
  EXPECT_FALSE(std::filesystem::exists(RegistryPath()));

  const auto existing = registry_.WriteFile("registry.ini", "[Other]\nV=1\n");
  EXPECT_EQ(Registration().Register(), CORVANE_CLIENT_SELFREG_E_TYPELIB);
  EXPECT_EQ(ReadFile(existing), "[Other]\nV=1\n");

  // A directory of that name is no type library either.
  std::filesystem::create_directory(module_ / "CorvaneClient-1.0.typelib");
  EXPECT_EQ(Registration().Register(), CORVANE_CLIENT_SELFREG_E_TYPELIB);
}

TEST_F(ModuleRegistrationTest, RegistryThatCannotBeReadFailsBothWaysAndStaysUntouched) {
  const std::string corrupt = "not a key file\n";
  const auto path = registry_.WriteFile("registry.ini", corrupt);
  EXPECT_EQ(Registration().Register(), CORVANE_CLIENT_SELFREG_E_TYPELIB);
  EXPECT_EQ(Registration().Unregister(), CORVANE_CLIENT_SELFREG_E_TYPELIB);
  EXPECT_EQ(ReadFile(path), corrupt);

  std::filesystem::remove(path);
  std::filesystem::create_directory(path);
  EXPECT_EQ(Registration().Register(), CORVANE_CLIENT_SELFREG_E_TYPELIB);
  EXPECT_EQ(Registration().Unregister(), CORVANE_CLIENT_SELFREG_E_TYPELIB);
  EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST_F(ModuleRegistrationTest, RegistryThatCannotBeWrittenFailsWithTheTypeLibrary) {
  // Missing, so it reads as empty, but no file can be made there, not even by
  // the superuser.
  const ModuleRegistration registration(module_.WidePath(), "/proc/self/corvane-registry.ini",
                                        {2, 0});
  EXPECT_EQ(registration.Register(), CORVANE_CLIENT_SELFREG_E_TYPELIB);
  // Nothing registered: the type library cannot be unregistered.
  EXPECT_EQ(registration.Unregister(), CORVANE_CLIENT_SELFREG_E_TYPELIB);
}

TEST_F(ModuleRegistrationTest, EventSourceAndMessageFilesComeFromLoggerIniBesideTheModule) {
  module_.WriteFile("logger.ini", "[Log]\nname=Lab\nmessageFiles=lab.so\n");
  ASSERT_EQ(Registration().Register(), CORVANE_CLIENT_S_OK);
  const Groups groups = Registry();
  const std::string key = std::string(kEventSourcePrefix) + "Lab";
  ASSERT_EQ(groups.count(key), 1u);
  EXPECT_EQ(groups.at(key).at("EventMessageFile"), ModuleDirectory() + "/lab.so");
  EXPECT_EQ(groups.at(key).at("TypesSupported"), "7");
  EXPECT_EQ(groups.count(std::string(kEventSourcePrefix) + "Corvane"), 0u);

  ASSERT_EQ(Registration().Unregister(), CORVANE_CLIENT_S_OK);
  EXPECT_EQ(Registry().count(key), 0u);
}

TEST_F(ModuleRegistrationTest, GivenLoggingConfigurationIsUsedInsteadOfTheFile) {
  TempDir other;
  other.WriteFile("logger.ini", "[Log]\nname=Given\nmessageFiles=/abs/a.so;b.so\n");
  const ModuleRegistration registration(
      module_.WidePath(), RegistryPath(), {2, 0},
      std::make_shared<Logging::LoggerConfiguration>(other.WidePath()));
  ASSERT_EQ(registration.Register(), CORVANE_CLIENT_S_OK);
  EXPECT_EQ(Registry().at(std::string(kEventSourcePrefix) + "Given").at("EventMessageFile"),
            "/abs/a.so;" + other.Path().string() + "/b.so");
}

TEST_F(ModuleRegistrationTest, EventSourceThatCannotBeRegisteredIsSkippedAndClassesStillAre) {
  const std::size_t prefix = std::string(kEventSourcePrefix).size();
  const std::string longest(ModuleRegistration::kMaxEventSourceKeyLength - prefix, 'n');
  for (const std::string& name : {longest + "n", std::string("A[1]")}) {
    module_.WriteFile("logger.ini", "[Log]\nname=" + name + "\n");
    EXPECT_EQ(Registration().Register(), CORVANE_CLIENT_S_OK) << name;
    const Groups groups = Registry();
    EXPECT_EQ(groups.count(std::string(kEventSourcePrefix) + name), 0u) << name;
    EXPECT_EQ(groups.count(kControlKey), 1u) << name;
    EXPECT_EQ(Registration().Unregister(), CORVANE_CLIENT_S_OK) << name;
    EXPECT_TRUE(Registry().empty()) << name;
  }
  module_.WriteFile("logger.ini", "[Log]\nname=" + longest + "\n");
  ASSERT_EQ(Registration().Register(), CORVANE_CLIENT_S_OK);
  EXPECT_EQ(Registry().count(std::string(kEventSourcePrefix) + longest), 1u);
  ASSERT_EQ(Registration().Unregister(), CORVANE_CLIENT_S_OK);
  EXPECT_TRUE(Registry().empty());
}

TEST_F(ModuleRegistrationTest, UnregisterRemovesEverythingAndAgainFailsWithTheTypeLibrary) {
  const auto path = registry_.WriteFile("registry.ini", "# the user's\n[Other\\Key]\nV=1\n");
  ASSERT_EQ(Registration().Register(), CORVANE_CLIENT_S_OK);
  ASSERT_GT(Registry().size(), 1u);
  ASSERT_EQ(Registration().Unregister(), CORVANE_CLIENT_S_OK);
  const Groups onlyOther = {{"Other\\Key", {{"V", "1"}}}};
  EXPECT_EQ(Registry(), onlyOther);
  EXPECT_NE(ReadFile(path).find("# the user's"), std::string::npos);
  EXPECT_EQ(Registration().Unregister(), CORVANE_CLIENT_SELFREG_E_TYPELIB);
  EXPECT_EQ(Registry(), onlyOther);

  // Nothing registered and no registry file: nothing is created either.
  std::filesystem::remove(path);
  EXPECT_EQ(Registration().Unregister(), CORVANE_CLIENT_SELFREG_E_TYPELIB);
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(ModuleRegistrationTest, UnregisterWithoutThisVersionsTypeLibraryRemovesNothing) {
  // Another version's type library and this version's classes: the classes
  // stay, since this version's type library cannot be unregistered.
  ASSERT_EQ(Registration({3, 1}).Register(), CORVANE_CLIENT_S_OK);
  const Groups before = Registry();
  EXPECT_EQ(Registration({2, 0}).Unregister(), CORVANE_CLIENT_SELFREG_E_TYPELIB);
  EXPECT_EQ(Registry(), before);
}

TEST_F(ModuleRegistrationTest, UnregisterKeepsOtherVersionsOfTheTypeLibrary) {
  ASSERT_EQ(Registration({2, 0}).Register(), CORVANE_CLIENT_S_OK);
  ASSERT_EQ(Registration({3, 1}).Register(), CORVANE_CLIENT_S_OK);
  ASSERT_EQ(Registration({2, 0}).Unregister(), CORVANE_CLIENT_S_OK);
  Groups groups = Registry();
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups.begin()->first, std::string("TypeLib\\") + CORVANE_CLIENT_LIBID + "\\3.1");
  ASSERT_EQ(Registration({3, 1}).Unregister(), CORVANE_CLIENT_S_OK);
  EXPECT_TRUE(Registry().empty());
}

}  // namespace
}  // namespace Control
}  // namespace Corvane
