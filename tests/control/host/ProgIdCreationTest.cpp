// Registration of CorvaneClient.so and creation of its classes by ProgID, as a
// host does it: the module's exports register it in a registry file of the
// test's own, and corvane_client_create_object loads the registered module.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "control/CorvaneClientApplication.h"
#include "control/CorvaneClientCtrl.h"
#include "control/CorvaneClientModule.h"
#include "support/TempDir.h"

namespace Corvane {
namespace Testing {
namespace {

class ProgIdCreationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* saved = getenv("CORVANE_REGISTRY");
    had_registry_ = saved != nullptr;
    if (saved) saved_registry_ = saved;
    setenv("CORVANE_REGISTRY", RegistryPath().c_str(), 1);
  }

  void TearDown() override {
    if (error_) g_error_free(error_);
    if (had_registry_) {
      setenv("CORVANE_REGISTRY", saved_registry_.c_str(), 1);
    } else {
      unsetenv("CORVANE_REGISTRY");
    }
  }

  std::string RegistryPath() const { return (scratch_ / "config" / "registry.ini").string(); }

  // Creation of `progId` must fail with `code`; returns the message.
  std::string ExpectFailure(const char* progId, CorvaneClientError code) {
    g_clear_error(&error_);
    GObject* object = corvane_client_create_object(progId, &error_);
    EXPECT_EQ(object, nullptr) << progId;
    if (object) g_object_unref(object);
    if (!error_) {
      ADD_FAILURE() << "no error for " << progId;
      return std::string();
    }
    EXPECT_EQ(error_->domain, CORVANE_CLIENT_ERROR);
    EXPECT_EQ(error_->code, code) << error_->message;
    return error_->message;
  }

  GObject* Create(const char* progId) {
    g_clear_error(&error_);
    GObject* object = corvane_client_create_object(progId, &error_);
    EXPECT_NE(object, nullptr) << progId << ": " << (error_ ? error_->message : "no error");
    return object;
  }

  TempDir scratch_;
  GError* error_ = nullptr;
  bool had_registry_ = false;
  std::string saved_registry_;
};

TEST_F(ProgIdCreationTest, RegisteredClassesAreCreatedByProgIdUntilUnregistered) {
  ASSERT_EQ(DllCanUnloadNow(), CORVANE_CLIENT_S_OK) << "an earlier test leaked an object";
  ExpectFailure("CorvaneClient.Application", CORVANE_CLIENT_ERROR_NOT_REGISTERED);

  ASSERT_EQ(DllRegisterServer(), CORVANE_CLIENT_S_OK);
  ASSERT_TRUE(std::filesystem::is_regular_file(RegistryPath()));

  GObject* control = Create("CORVANECLIENT.CorvaneClientCtrl.1");
  ASSERT_NE(control, nullptr);
  // The registered module is the one this process already uses, not a copy.
  EXPECT_TRUE(CORVANE_CLIENT_IS_CTRL(control));
  EXPECT_EQ(DllCanUnloadNow(), CORVANE_CLIENT_S_FALSE);

  GObject* application = Create("CorvaneClient.Application");
  ASSERT_NE(application, nullptr);
  EXPECT_TRUE(CORVANE_CLIENT_IS_APPLICATION(application));
  gchar* id = nullptr;
  gchar* name = nullptr;
  gchar* address = nullptr;
  gint version = 0;
  g_object_get(application, "id", &id, "name", &name, "address", &address, "version", &version,
               nullptr);
  EXPECT_STREQ(id, "");
  EXPECT_STREQ(name, "");
  EXPECT_STREQ(address, "");
  EXPECT_EQ(version, 1);
  g_free(id);
  g_free(name);
  g_free(address);

  g_object_unref(control);
  EXPECT_EQ(DllCanUnloadNow(), CORVANE_CLIENT_S_FALSE) << "the application still holds the module";
  g_object_unref(application);
  EXPECT_EQ(DllCanUnloadNow(), CORVANE_CLIENT_S_OK);

  ASSERT_EQ(DllUnregisterServer(), CORVANE_CLIENT_S_OK);
  EXPECT_NE(ExpectFailure("CORVANECLIENT.CorvaneClientCtrl.1", CORVANE_CLIENT_ERROR_NOT_REGISTERED)
                .find("CORVANECLIENT.CorvaneClientCtrl.1"),
            std::string::npos);
  ExpectFailure("CorvaneClient.Application", CORVANE_CLIENT_ERROR_NOT_REGISTERED);
  // Nothing left to unregister: the type library cannot be.
  EXPECT_EQ(DllUnregisterServer(), CORVANE_CLIENT_SELFREG_E_TYPELIB);
}

TEST_F(ProgIdCreationTest, RegistryNamesTheModuleAndItsTypeLibraryBesideIt) {
  ASSERT_EQ(DllRegisterServer(), CORVANE_CLIENT_S_OK);
  GKeyFile* registry = g_key_file_new();
  ASSERT_TRUE(
      g_key_file_load_from_file(registry, RegistryPath().c_str(), G_KEY_FILE_NONE, nullptr));
  const std::string classKey = std::string("CLSID\\") + CORVANE_CLIENT_CLSID_CTRL;
  gchar* module = g_key_file_get_string(registry, classKey.c_str(), "InprocServer32", nullptr);
  ASSERT_NE(module, nullptr);
  EXPECT_TRUE(std::filesystem::equivalent(module, CORVANE_BIN_DIR "/CorvaneClient.so")) << module;
  g_free(module);
  gchar** groups = g_key_file_get_groups(registry, nullptr);
  std::string typeLibraryKey;
  for (gchar** group = groups; *group; ++group) {
    if (g_str_has_prefix(*group, "TypeLib\\")) typeLibraryKey = *group;
  }
  g_strfreev(groups);
  gchar* typeLibrary = g_key_file_get_string(registry, typeLibraryKey.c_str(), "Path", nullptr);
  ASSERT_NE(typeLibrary, nullptr) << typeLibraryKey;
  EXPECT_TRUE(
      std::filesystem::equivalent(typeLibrary, CORVANE_BIN_DIR "/CorvaneClient-1.0.typelib"));
  g_free(typeLibrary);
  g_key_file_unref(registry);
  EXPECT_EQ(DllUnregisterServer(), CORVANE_CLIENT_S_OK);
}

// A headless host asking for the registered property page learns there is
// no display, as it would from the dialogs, not that a module is missing.
TEST_F(ProgIdCreationTest, PropertyPageWithoutADisplayFailsAsTheDialogsDo) {
  ASSERT_EQ(DllRegisterServer(), CORVANE_CLIENT_S_OK);
  const char* display = getenv("DISPLAY");
  const std::string saved = display ? display : "";
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  ExpectFailure("CORVANECLIENT.CorvaneClientPropPage.1", CORVANE_CLIENT_ERROR_NO_DISPLAY);
  CorvaneClientCtrl* control = corvane_client_ctrl_new();
  g_clear_error(&error_);
  EXPECT_EQ(corvane_client_create_object_for("CORVANECLIENT.CorvaneClientPropPage.1",
                                             G_OBJECT(control), &error_),
            nullptr);
  ASSERT_NE(error_, nullptr);
  EXPECT_EQ(error_->code, CORVANE_CLIENT_ERROR_NO_DISPLAY) << error_->message;
  g_object_unref(control);
  if (display) setenv("DISPLAY", saved.c_str(), 1);
  EXPECT_EQ(DllUnregisterServer(), CORVANE_CLIENT_S_OK);
}

// The version pair reaches a host through the module's exports, and it is
// the type library version registration writes.
TEST_F(ProgIdCreationTest, VersionPairIsExportedAndNamesTheRegisteredTypeLibrary) {
  EXPECT_EQ(GetMajorVersion(), 2);
  EXPECT_EQ(GetMinorVersion(), 0);
  guint16 major = 0;
  guint16 minor = 99;
  corvane_client_get_version(&major, &minor);
  EXPECT_EQ(major, 2);
  EXPECT_EQ(minor, 0);
  corvane_client_get_version(nullptr, nullptr);

  ASSERT_EQ(DllRegisterServer(), CORVANE_CLIENT_S_OK);
  GKeyFile* registry = g_key_file_new();
  ASSERT_TRUE(
      g_key_file_load_from_file(registry, RegistryPath().c_str(), G_KEY_FILE_NONE, nullptr));
  const std::string key = std::string("TypeLib\\") + CORVANE_CLIENT_LIBID + "\\" +
                          std::to_string(major) + "." + std::to_string(minor);
  EXPECT_TRUE(g_key_file_has_group(registry, key.c_str())) << key;
  g_key_file_unref(registry);
  EXPECT_EQ(DllUnregisterServer(), CORVANE_CLIENT_S_OK);
}

TEST_F(ProgIdCreationTest, RegistryThatCannotBeReadFailsRegistrationAndCreation) {
  const auto path = scratch_.WriteFile("config/registry.ini", "not a key file\n");
  EXPECT_EQ(DllRegisterServer(), CORVANE_CLIENT_SELFREG_E_TYPELIB);
  EXPECT_EQ(DllUnregisterServer(), CORVANE_CLIENT_SELFREG_E_TYPELIB);
  ExpectFailure("CorvaneClient.Application", CORVANE_CLIENT_ERROR_REGISTRY);
  EXPECT_EQ(ReadFile(path), "not a key file\n");
}

}  // namespace
}  // namespace Testing
}  // namespace Corvane
