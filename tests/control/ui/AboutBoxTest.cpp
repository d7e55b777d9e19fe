// The about box as the control shows it: loaded on demand, modal, with its
// title, icon and version line, closed by OK. And the error a host gets when
// the display cannot be opened.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <string>

#include "control/CorvaneClientCtrl.h"
#include "control/ui/DialogScript.h"
#include "control/ui/UiDriver.h"

namespace Corvane {
namespace Testing {
namespace {

const char kTitle[] = "About CorvaneClient Control";

GtkWidget* FindImage(GtkWidget* root) {
  if (GTK_IS_IMAGE(root)) return root;
  for (GtkWidget* child = gtk_widget_get_first_child(root); child;
       child = gtk_widget_get_next_sibling(child)) {
    if (GtkWidget* image = FindImage(child)) return image;
  }
  return nullptr;
}

TEST(AboutBoxTest, ShowsTitleIconAndVersionModallyUntilOk) {
  CorvaneClientCtrl* control = corvane_client_ctrl_new();
  GtkWindow* box = nullptr;
  DialogScript script;
  script.Step("the about box to be laid out",
              [&] {
                box = UiDriver::Window(kTitle);
                return box && UiDriver::IsLaidOut(GTK_WIDGET(box));
              },
              [&] {
                EXPECT_TRUE(gtk_window_get_modal(box));
                const auto labels = UiDriver::ShownLabels(GTK_WIDGET(box));
                EXPECT_NE(std::find(labels.begin(), labels.end(),
                                    "CorvaneClient Control, Version 2.0.9.0"),
                          labels.end());
                GtkWidget* icon = FindImage(GTK_WIDGET(box));
                ASSERT_NE(icon, nullptr);
                EXPECT_EQ(gtk_image_get_storage_type(GTK_IMAGE(icon)), GTK_IMAGE_PAINTABLE)
                    << "the icon resource did not load";
                EXPECT_TRUE(UiDriver::SaveScreenshot(GTK_WIDGET(box),
                                                     UiDriver::ScreenshotPath("about-box.png")));
                EXPECT_TRUE(UiDriver::Click(UiDriver::Button(GTK_WIDGET(box), "OK")));
              });
  script.Start();
  GError* error = nullptr;
  EXPECT_TRUE(corvane_client_ctrl_about_box(control, &error)) << (error ? error->message : "");
  EXPECT_TRUE(script.Finished()) << script.GetFailure();
  EXPECT_EQ(UiDriver::Window(kTitle), nullptr);
  g_clear_error(&error);
  g_object_unref(control);
}

// Runs in a process of its own (GTK is initialised once per process): a
// display that is named but cannot be opened.
TEST(AboutBoxDeathTest, DisplayThatCannotBeOpenedIsReported) {
  EXPECT_EXIT(
      {
        setenv("DISPLAY", ":31999", 1);
        CorvaneClientCtrl* control = corvane_client_ctrl_new();
        GError* error = nullptr;
        const gboolean shown = corvane_client_ctrl_show_property_page(control, &error);
        const bool reported = !shown && error && error->domain == CORVANE_CLIENT_ERROR &&
                              error->code == CORVANE_CLIENT_ERROR_NO_DISPLAY &&
                              std::string(error->message).find(":31999") != std::string::npos;
        if (error) fprintf(stderr, "%s\n", error->message);
        exit(reported ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "cannot be opened");
}

}  // namespace
}  // namespace Testing
}  // namespace Corvane
