// The class-object and unloading entry points, called as a host calls them.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "control/CorvaneClientApp.h"
#include "control/CorvaneClientApplication.h"
#include "control/CorvaneClientCtrl.h"
#include "control/CorvaneClientModule.h"

namespace Corvane {
namespace Control {
namespace {

const char kUnknownClsid[] = "{00000000-1111-2222-3333-444444444444}";

TEST(ClassObjectTest, ResultCodesHaveTheirRegisteredValues) {
  EXPECT_EQ(CORVANE_CLIENT_S_OK, 0);
  EXPECT_EQ(CORVANE_CLIENT_S_FALSE, 1);
  EXPECT_EQ(static_cast<std::uint32_t>(CORVANE_CLIENT_E_NOINTERFACE), 0x80004002u);
  EXPECT_EQ(static_cast<std::uint32_t>(CORVANE_CLIENT_E_POINTER), 0x80004003u);
  EXPECT_EQ(static_cast<std::uint32_t>(CORVANE_CLIENT_E_INVALIDARG), 0x80070057u);
  EXPECT_EQ(static_cast<std::uint32_t>(CORVANE_CLIENT_CLASS_E_CLASSNOTAVAILABLE), 0x80040111u);
  EXPECT_EQ(static_cast<std::uint32_t>(CORVANE_CLIENT_SELFREG_E_TYPELIB), 0x80040200u);
  EXPECT_EQ(static_cast<std::uint32_t>(CORVANE_CLIENT_SELFREG_E_CLASS), 0x80040201u);
  EXPECT_LT(CORVANE_CLIENT_SELFREG_E_CLASS, 0) << "failures are negative";
}

TEST(ClassObjectTest, MissingArgumentsAreRefused) {
  EXPECT_EQ(DllGetClassObject(CORVANE_CLIENT_CLSID_CTRL, "IClassFactory", nullptr),
            CORVANE_CLIENT_E_POINTER);
  gpointer object = &object;
  EXPECT_EQ(DllGetClassObject(nullptr, "IClassFactory", &object), CORVANE_CLIENT_E_INVALIDARG);
  EXPECT_EQ(object, nullptr);
  object = &object;
  EXPECT_EQ(DllGetClassObject(CORVANE_CLIENT_CLSID_CTRL, nullptr, &object),
            CORVANE_CLIENT_E_INVALIDARG);
  EXPECT_EQ(object, nullptr);
}

TEST(ClassObjectTest, ClassesTheModuleDoesNotImplementAreNotAvailable) {
  for (const char* clsid : {kUnknownClsid, "", "CORVANECLIENT.CorvaneClientCtrl.1",
                            CORVANE_CLIENT_LIBID}) {
    gpointer object = &object;
    EXPECT_EQ(DllGetClassObject(clsid, "IClassFactory", &object),
              CORVANE_CLIENT_CLASS_E_CLASSNOTAVAILABLE)
        << clsid;
    EXPECT_EQ(object, nullptr) << clsid;
  }
}

TEST(ClassObjectTest, OnlyTheClassFactoryInterfaceIsProvided) {
  for (const char* iid : {"IUnknown", "iclassfactory", "{00000000-0000-0000-C000-000000000046}",
                          "00000001-0000-0000-C000-000000000046", ""}) {
    gpointer object = &object;
    EXPECT_EQ(DllGetClassObject(CORVANE_CLIENT_CLSID_CTRL, iid, &object),
              CORVANE_CLIENT_E_NOINTERFACE)
        << iid;
    EXPECT_EQ(object, nullptr) << iid;
  }
}

TEST(ClassObjectTest, ControlAndApplicationHaveClassObjects) {
  gpointer object = nullptr;
  ASSERT_EQ(DllGetClassObject(CORVANE_CLIENT_CLSID_CTRL, "IClassFactory", &object),
            CORVANE_CLIENT_S_OK);
  const auto* control = static_cast<const CorvaneClassFactory*>(object);
  ASSERT_NE(control, nullptr);
  EXPECT_STREQ(control->clsid, CORVANE_CLIENT_CLSID_CTRL);
  EXPECT_STREQ(control->prog_id, "CORVANECLIENT.CorvaneClientCtrl.1");
  EXPECT_EQ(control->get_type, &corvane_client_ctrl_get_type);
  EXPECT_NE(control->create_instance, nullptr);

  // Identifiers are matched without regard to case, by name or GUID text.
  object = nullptr;
  ASSERT_EQ(DllGetClassObject("{8f3c61d5-4b7a-4e05-a1d9-2c6e5b0f7a41}",
                              "{00000001-0000-0000-c000-000000000046}", &object),
            CORVANE_CLIENT_S_OK);
  const auto* application = static_cast<const CorvaneClassFactory*>(object);
  ASSERT_NE(application, nullptr);
  EXPECT_STREQ(application->clsid, CORVANE_CLIENT_CLSID_APPLICATION);
  EXPECT_STREQ(application->prog_id, "CorvaneClient.Application");
  EXPECT_EQ(application->get_type, &corvane_client_application_get_type);
}

// Without a display, the property page's class object fails as the dialogs
// do, without loading the user-interface module.
TEST(ClassObjectTest, PropertyPageHasAClassObjectThatNeedsADisplay) {
  const std::string display = g_getenv("DISPLAY") ? g_getenv("DISPLAY") : "";
  const std::string wayland = g_getenv("WAYLAND_DISPLAY") ? g_getenv("WAYLAND_DISPLAY") : "";
  g_unsetenv("DISPLAY");
  g_unsetenv("WAYLAND_DISPLAY");
  gpointer object = nullptr;
  ASSERT_EQ(DllGetClassObject(CORVANE_CLIENT_CLSID_PROP_PAGE, "IClassFactory", &object),
            CORVANE_CLIENT_S_OK);
  const auto* page = static_cast<const CorvaneClassFactory*>(object);
  EXPECT_STREQ(page->prog_id, "CORVANECLIENT.CorvaneClientPropPage.1");
  EXPECT_EQ(page->get_type(), G_TYPE_INVALID);
  EXPECT_EQ(page->create_instance(), nullptr);

  GError* error = nullptr;
  EXPECT_EQ(corvane_client_module_create_instance(CORVANE_CLIENT_CLSID_PROP_PAGE, nullptr, &error),
            nullptr);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->code, CORVANE_CLIENT_ERROR_NO_DISPLAY) << error->message;
  g_clear_error(&error);
  // Not a control: refused before any display is looked for.
  GObject* application = corvane_client_module_create_instance(CORVANE_CLIENT_CLSID_APPLICATION,
                                                               nullptr, nullptr);
  EXPECT_EQ(corvane_client_module_create_instance(CORVANE_CLIENT_CLSID_PROP_PAGE, application,
                                                  &error),
            nullptr);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->code, CORVANE_CLIENT_ERROR_FAILED) << error->message;
  g_clear_error(&error);
  g_object_unref(application);
  EXPECT_EQ(DllCanUnloadNow(), CORVANE_CLIENT_S_OK) << "the page's new control was kept";
  if (!display.empty()) g_setenv("DISPLAY", display.c_str(), TRUE);
  if (!wayland.empty()) g_setenv("WAYLAND_DISPLAY", wayland.c_str(), TRUE);
}

TEST(ClassObjectTest, ModuleCanUnloadOnlyWithoutLivingObjects) {
  CorvaneClientApp& app = CorvaneClientApp::Instance();
  ASSERT_EQ(app.GetLockCount(), 0) << "an earlier test leaked an object";
  EXPECT_EQ(DllCanUnloadNow(), CORVANE_CLIENT_S_OK);

  gpointer object = nullptr;
  ASSERT_EQ(DllGetClassObject(CORVANE_CLIENT_CLSID_APPLICATION, "IClassFactory", &object),
            CORVANE_CLIENT_S_OK);
  GObject* instance = static_cast<const CorvaneClassFactory*>(object)->create_instance();
  ASSERT_NE(instance, nullptr);
  EXPECT_TRUE(CORVANE_CLIENT_IS_APPLICATION(instance));
  EXPECT_EQ(DllCanUnloadNow(), CORVANE_CLIENT_S_FALSE);
  g_object_unref(instance);
  EXPECT_EQ(DllCanUnloadNow(), CORVANE_CLIENT_S_OK);
}

}  // namespace
}  // namespace Control
}  // namespace Corvane
