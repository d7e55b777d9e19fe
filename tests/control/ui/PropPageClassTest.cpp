// The property page's registered class: created by ProgID for a control the
// host passes, or with a control of its own, from the user-interface module
// loaded on demand.

#include <gtest/gtest.h>
#include <glib/gstdio.h>
#include <stdlib.h>

#include <string>

#include "control/CorvaneClientCtrl.h"
#include "control/CorvaneClientModule.h"
#include "control/ui/CorvaneClientUi.h"

namespace {

constexpr char kProgId[] = "CORVANECLIENT.CorvaneClientPropPage.1";

class PropPageClassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = g_dir_make_tmp("corvane-page-XXXXXX", nullptr);
    ASSERT_NE(directory_, nullptr);
    registry_ = std::string(directory_) + "/registry.ini";
    setenv("CORVANE_REGISTRY", registry_.c_str(), 1);
    ASSERT_EQ(DllRegisterServer(), CORVANE_CLIENT_S_OK);
  }

  void TearDown() override {
    EXPECT_EQ(DllUnregisterServer(), CORVANE_CLIENT_S_OK);
    g_remove(registry_.c_str());
    g_rmdir(directory_);
    g_free(directory_);
    unsetenv("CORVANE_REGISTRY");
  }

  gchar* directory_ = nullptr;
  std::string registry_;
};

TEST_F(PropPageClassTest, PageIsMadeForTheGivenControlOrANewOne) {
  CorvaneClientCtrl* control = corvane_client_ctrl_new();
  GError* error = nullptr;
  GObject* page = corvane_client_create_object_for(kProgId, G_OBJECT(control), &error);
  ASSERT_NE(page, nullptr) << error->message;
  ASSERT_TRUE(CORVANE_CLIENT_IS_PROP_PAGE(page));
  EXPECT_FALSE(g_object_is_floating(page));
  EXPECT_EQ(corvane_client_prop_page_get_control(CORVANE_CLIENT_PROP_PAGE(page)), control);
  // The page shows the control it was made for.
  g_object_set(control, "group-port", 1234, nullptr);
  EXPECT_TRUE(corvane_client_prop_page_apply(CORVANE_CLIENT_PROP_PAGE(page)));
  gint port = 0;
  g_object_get(control, "group-port", &port, nullptr);
  EXPECT_EQ(port, 1234);
  g_object_unref(page);
  g_object_unref(control);

  GObject* alone = corvane_client_create_object(kProgId, &error);
  ASSERT_NE(alone, nullptr) << error->message;
  CorvaneClientCtrl* own = corvane_client_prop_page_get_control(CORVANE_CLIENT_PROP_PAGE(alone));
  ASSERT_TRUE(CORVANE_CLIENT_IS_CTRL(own));
  EXPECT_EQ(DllCanUnloadNow(), CORVANE_CLIENT_S_FALSE) << "the page's control holds the module";
  g_object_unref(alone);
  EXPECT_EQ(DllCanUnloadNow(), CORVANE_CLIENT_S_OK) << "the page's own control outlived it";
}

}  // namespace
