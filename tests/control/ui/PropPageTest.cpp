// The property page under Xvfb, driven as a person drives it: fields found by
// their labels, text typed over them, Apply pressed, the refusal read beside
// the field. The control under the page is a real one, beside a fake engine
// (so "started" needs no network).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/CorvaneClientCtrl.h"
#include "control/ui/CorvaneClientUi.h"
#include "control/ui/DialogScript.h"
#include "control/ui/UiDriver.h"

namespace Corvane {
namespace Testing {
namespace {

const char kPortMessage[] = "Enter a whole number from 1 to 65535.";
const char kIntervalMessage[] = "Enter a whole number from 1 to 600000.";

int IntProperty(CorvaneClientCtrl* control, const char* name) {
  int value = 0;
  g_object_get(control, name, &value, nullptr);
  return value;
}

std::string TextProperty(CorvaneClientCtrl* control, const char* name) {
  gchar* value = nullptr;
  g_object_get(control, name, &value, nullptr);
  std::string text = value ? value : "";
  g_free(value);
  return text;
}

std::string Text(GtkWidget* field) { return gtk_editable_get_text(GTK_EDITABLE(field)); }

bool Shows(GtkWidget* message, const char* text) {
  return message && gtk_widget_get_mapped(message) &&
         g_strcmp0(gtk_label_get_text(GTK_LABEL(message)), text) == 0;
}

class PropPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(gtk_init_check());
    control_ = corvane_client_ctrl_new();
  }

  void TearDown() override {
    if (window_) gtk_window_destroy(window_);
    if (corvane_client_ctrl_get_started(control_)) corvane_client_ctrl_stop(control_);
    g_object_unref(control_);
    g_clear_error(&error_);
  }

  // The page embedded in a host's own window, shown and laid out.
  GtkWidget* EmbedPage() {
    window_ = GTK_WINDOW(gtk_window_new());
    page_ = corvane_client_prop_page_new(control_);
    gtk_window_set_child(window_, page_);
    gtk_window_present(window_);
    EXPECT_TRUE(UiDriver::IterateUntil([&] { return UiDriver::IsLaidOut(page_); }));
    return page_;
  }

  GtkWidget* Field(const char* label) {
    GtkWidget* field = UiDriver::FieldLabelled(page_, label);
    EXPECT_NE(field, nullptr) << label;
    return field;
  }

  gboolean Apply() { return corvane_client_prop_page_apply(CORVANE_CLIENT_PROP_PAGE(page_)); }

  CorvaneClientCtrl* control_ = nullptr;
  GtkWindow* window_ = nullptr;
  GtkWidget* page_ = nullptr;
  GError* error_ = nullptr;
};

TEST_F(PropPageTest, FieldsComeInTheExchangeOrderShowingTheControlsValues) {
  g_object_set(control_, "server-port", 47000, "file-directory", "/srv/in", nullptr);
  EmbedPage();
  // Row by row: what a person reads down the page.
  const std::vector<std::string> expected = {
      "Group Address:", "Group Port:",    "Hailing Interval:",      "Sever Port:", "Use Hailing Server",
      "Ack Timeout:",   "Health Check Interval:", "File Port:", "File Directory:"};
  std::vector<std::string> rows;
  for (const std::string& label : expected) {
    GtkWidget* field = label == "Use Hailing Server" ? UiDriver::Button(page_, label.c_str())
                                                     : Field(label.c_str());
    ASSERT_NE(field, nullptr) << label;
    int column = 0;
    int row = 0;
    gtk_grid_query_child(GTK_GRID(gtk_widget_get_parent(field)), field, &column, &row, nullptr,
                         nullptr);
    rows.push_back(std::to_string(row));
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"0", "1", "2", "3", "4", "5", "6", "7", "8"}));
  EXPECT_EQ(Text(Field("Group Address:")), "228.11.11.11");
  EXPECT_EQ(Text(Field("Group Port:")), "45599");
  EXPECT_EQ(Text(Field("Sever Port:")), "47000");
  EXPECT_EQ(Text(Field("Hailing Interval:")), "15000");
  EXPECT_EQ(Text(Field("Ack Timeout:")), "30000");
  EXPECT_EQ(Text(Field("Health Check Interval:")), "60000");
  EXPECT_EQ(Text(Field("File Port:")), "45501");
  EXPECT_EQ(Text(Field("File Directory:")), "/srv/in");
  EXPECT_TRUE(gtk_check_button_get_active(
      GTK_CHECK_BUTTON(UiDriver::Button(page_, "Use Hailing Server"))));
}

TEST_F(PropPageTest, OutOfRangeValueIsRefusedBesideItsFieldAndNothingIsWritten) {
  EmbedPage();
  UiDriver::Type(Field("Hailing Interval:"), "1500");
  UiDriver::Type(Field("Group Port:"), "100000");
  UiDriver::Type(Field("Group Address:"), "239.1.2.3");
  gtk_check_button_set_active(GTK_CHECK_BUTTON(UiDriver::Button(page_, "Use Hailing Server")),
                              FALSE);

  EXPECT_FALSE(Apply());
  GtkWidget* message = UiDriver::MessageBeside(Field("Group Port:"));
  EXPECT_TRUE(UiDriver::IterateUntil([&] { return Shows(message, kPortMessage); }));
  EXPECT_TRUE(UiDriver::HasFocus(Field("Group Port:")));
  // The valid edits were not written either, and the person's text stays.
  EXPECT_EQ(IntProperty(control_, "group-port"), 45599);
  EXPECT_EQ(IntProperty(control_, "hailing-interval"), 15000);
  EXPECT_EQ(TextProperty(control_, "group-address"), "228.11.11.11");
  EXPECT_FALSE(corvane_client_ctrl_get_modified(control_));
  EXPECT_EQ(Text(Field("Group Port:")), "100000");

  UiDriver::Type(Field("Group Port:"), "45600");
  EXPECT_TRUE(Apply());
  EXPECT_FALSE(gtk_widget_get_visible(message));
  EXPECT_EQ(IntProperty(control_, "group-port"), 45600);
  EXPECT_EQ(IntProperty(control_, "hailing-interval"), 1500);
  EXPECT_EQ(TextProperty(control_, "group-address"), "239.1.2.3");
  gboolean hailing = TRUE;
  g_object_get(control_, "using-hailing-server", &hailing, nullptr);
  EXPECT_FALSE(hailing);
  EXPECT_TRUE(corvane_client_ctrl_get_modified(control_));
}

TEST_F(PropPageTest, EveryRefusedFieldShowsItsOwnMessage) {
  EmbedPage();
  UiDriver::Type(Field("Ack Timeout:"), "600001");
  UiDriver::Type(Field("File Port:"), "port");
  UiDriver::Type(Field("Sever Port:"), "0");
  EXPECT_FALSE(Apply());
  EXPECT_TRUE(UiDriver::IterateUntil([&] {
    return Shows(UiDriver::MessageBeside(Field("Ack Timeout:")), kIntervalMessage) &&
           Shows(UiDriver::MessageBeside(Field("File Port:")), kPortMessage) &&
           Shows(UiDriver::MessageBeside(Field("Sever Port:")), kPortMessage);
  }));
  EXPECT_FALSE(gtk_widget_get_visible(UiDriver::MessageBeside(Field("Group Port:"))));
  // The first refused field in the page's order takes the focus.
  EXPECT_TRUE(UiDriver::HasFocus(Field("Sever Port:")));
  EXPECT_FALSE(corvane_client_ctrl_get_modified(control_));
}

TEST_F(PropPageTest, StartedControlMakesThePageReadOnlyAndThePageSaysSo) {
  EmbedPage();
  // The page follows the control's started notification by itself.
  ASSERT_EQ(corvane_client_ctrl_start(control_, "client-1", "Page Test"), 0)
      << corvane_client_ctrl_get_last_error_message(control_);
  auto noticeShown = [&] {
    for (const std::string& label : UiDriver::ShownLabels(page_)) {
      if (label.find("The control is started") == 0) return true;
    }
    return false;
  };
  EXPECT_TRUE(UiDriver::IterateUntil(noticeShown));
  // The notice made the page taller: wait for the new layout before the picture.
  EXPECT_TRUE(UiDriver::IterateUntil([&] {
    return UiDriver::IsLaidOut(page_) && gtk_widget_get_width(GTK_WIDGET(window_)) > 0;
  }));
  EXPECT_FALSE(gtk_editable_get_editable(GTK_EDITABLE(Field("Group Port:"))));
  EXPECT_FALSE(gtk_widget_get_sensitive(UiDriver::Button(page_, "Use Hailing Server")));
  EXPECT_FALSE(gtk_widget_get_sensitive(UiDriver::Button(page_, "Reset to Defaults")));
  EXPECT_TRUE(UiDriver::SaveScreenshot(GTK_WIDGET(window_),
                                       UiDriver::ScreenshotPath("property-page-started.png")));

  // Text that reaches the field anyway is not applied; the page shows the
  // control's value again.
  gtk_editable_set_text(GTK_EDITABLE(Field("Group Port:")), "1234");
  EXPECT_TRUE(Apply());
  EXPECT_EQ(IntProperty(control_, "group-port"), 45599);
  EXPECT_EQ(Text(Field("Group Port:")), "45599");

  ASSERT_EQ(corvane_client_ctrl_stop(control_), 0);
  EXPECT_TRUE(UiDriver::IterateUntil([&] { return !noticeShown(); }));
  EXPECT_TRUE(gtk_editable_get_editable(GTK_EDITABLE(Field("Group Port:"))));
  UiDriver::Type(Field("Group Port:"), "1234");
  EXPECT_TRUE(Apply());
  EXPECT_EQ(IntProperty(control_, "group-port"), 1234);
}

// Ports take exactly the range Start accepts.
TEST_F(PropPageTest, PortFieldsRefuseWhatStartWouldRefuse) {
  EmbedPage();
  for (const char* label : {"Group Port:", "Sever Port:", "File Port:"}) {
    UiDriver::Type(Field(label), "65536");
    EXPECT_FALSE(Apply()) << label;
    EXPECT_TRUE(UiDriver::IterateUntil(
        [&] { return Shows(UiDriver::MessageBeside(Field(label)), kPortMessage); }))
        << label;
    UiDriver::Type(Field(label), "65535");
  }
  EXPECT_TRUE(Apply());
  EXPECT_EQ(IntProperty(control_, "group-port"), 65535);
  EXPECT_EQ(IntProperty(control_, "server-port"), 65535);
  EXPECT_EQ(IntProperty(control_, "file-port"), 65535);
}

TEST_F(PropPageTest, ResetToDefaultsPutsBackEveryPropertyAndDropsEdits) {
  g_object_set(control_, "group-port", 1111, "file-directory", "/srv/in", "ack-timeout", 5,
               "using-hailing-server", FALSE, nullptr);
  EmbedPage();
  UiDriver::Type(Field("File Port:"), "0");
  EXPECT_FALSE(Apply());

  EXPECT_TRUE(UiDriver::Click(UiDriver::Button(page_, "Reset to Defaults")));
  EXPECT_EQ(IntProperty(control_, "group-port"), 45599);
  EXPECT_EQ(IntProperty(control_, "ack-timeout"), 30000);
  const std::string directory = TextProperty(control_, "file-directory");
  EXPECT_EQ(directory.substr(directory.size() - 6), "/files");
  EXPECT_EQ(Text(Field("Group Port:")), "45599");
  EXPECT_EQ(Text(Field("File Port:")), "45501");
  EXPECT_EQ(Text(Field("File Directory:")), directory);
  EXPECT_TRUE(gtk_check_button_get_active(
      GTK_CHECK_BUTTON(UiDriver::Button(page_, "Use Hailing Server"))));
  EXPECT_FALSE(gtk_widget_get_visible(UiDriver::MessageBeside(Field("File Port:"))));
}

TEST_F(PropPageTest, UntouchedFieldsFollowTheHostEditedOnesKeepThePersonsText) {
  EmbedPage();
  UiDriver::Type(Field("Ack Timeout:"), "2500");
  g_object_set(control_, "server-port", 46000, "ack-timeout", 7000, nullptr);
  EXPECT_EQ(Text(Field("Sever Port:")), "46000");
  EXPECT_EQ(Text(Field("Ack Timeout:")), "2500");
  EXPECT_TRUE(Apply());
  EXPECT_EQ(IntProperty(control_, "ack-timeout"), 2500);
  EXPECT_EQ(IntProperty(control_, "server-port"), 46000);
}

// The properties verb: the control loads the user-interface module and runs
// the page in a dialog of its own until the person closes it.
TEST_F(PropPageTest, PropertiesVerbRunsThePageAsADialog) {
  // A directory a reader of the screenshot recognises, not the build tree's.
  g_object_set(control_, "file-directory", "/var/lib/corvane/files", nullptr);
  GtkWindow* dialog = nullptr;
  GtkWidget* field = nullptr;
  DialogScript script;
  script.Step("the dialog to be laid out",
              [&] {
                dialog = UiDriver::Window("CorvaneClient Control Properties");
                return dialog && UiDriver::IsLaidOut(GTK_WIDGET(dialog));
              },
              [&] {
                EXPECT_TRUE(gtk_window_get_modal(dialog));
                EXPECT_NE(UiDriver::ShownLabels(GTK_WIDGET(dialog)),
                          std::vector<std::string>());
                EXPECT_TRUE(UiDriver::SaveScreenshot(
                    GTK_WIDGET(dialog), UiDriver::ScreenshotPath("property-page.png")));
                field = UiDriver::FieldLabelled(GTK_WIDGET(dialog), "Health Check Interval:");
                ASSERT_NE(field, nullptr);
                UiDriver::Type(field, "0");
                EXPECT_TRUE(UiDriver::Click(UiDriver::Button(GTK_WIDGET(dialog), "Apply")));
              });
  script.Step("the refusal beside the field",
              [&] {
                GtkWidget* message = UiDriver::MessageBeside(field);
                return Shows(message, kIntervalMessage) && UiDriver::IsLaidOut(message) &&
                       UiDriver::IsLaidOut(GTK_WIDGET(dialog));
              },
              [&] {
                EXPECT_EQ(IntProperty(control_, "health-check-interval"), 60000);
                EXPECT_TRUE(UiDriver::SaveScreenshot(
                    GTK_WIDGET(dialog), UiDriver::ScreenshotPath("property-page-refused.png")));
                // OK with the value still refused keeps the dialog open.
                EXPECT_TRUE(UiDriver::Click(UiDriver::Button(GTK_WIDGET(dialog), "OK")));
                EXPECT_EQ(UiDriver::Window("CorvaneClient Control Properties"), dialog);
                UiDriver::Type(field, "45000");
                EXPECT_TRUE(UiDriver::Click(UiDriver::Button(GTK_WIDGET(dialog), "OK")));
              });
  script.Start();
  EXPECT_TRUE(corvane_client_ctrl_show_property_page(control_, &error_))
      << (error_ ? error_->message : "");
  EXPECT_TRUE(script.Finished()) << script.GetFailure();
  EXPECT_EQ(UiDriver::Window("CorvaneClient Control Properties"), nullptr);
  EXPECT_EQ(IntProperty(control_, "health-check-interval"), 45000);
}

TEST_F(PropPageTest, CancelClosesTheDialogWithoutWriting) {
  DialogScript script;
  GtkWindow* dialog = nullptr;
  script.Step("the dialog to be shown",
              [&] {
                dialog = UiDriver::Window("CorvaneClient Control Properties");
                return dialog && gtk_widget_get_mapped(GTK_WIDGET(dialog));
              },
              [&] {
                UiDriver::Type(UiDriver::FieldLabelled(GTK_WIDGET(dialog), "File Port:"), "4000");
                EXPECT_TRUE(UiDriver::Click(UiDriver::Button(GTK_WIDGET(dialog), "Cancel")));
              });
  script.Start();
  EXPECT_TRUE(corvane_client_ctrl_show_property_page(control_, &error_));
  EXPECT_TRUE(script.Finished()) << script.GetFailure();
  EXPECT_EQ(IntProperty(control_, "file-port"), 45501);
}

}  // namespace
}  // namespace Testing
}  // namespace Corvane
