// A host that never shows a window never loads a toolkit: the control module
// does not link GTK (only its user-interface module does), and asking for a
// dialog without a display fails without loading either.

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "control/CorvaneClientCtrl.h"

namespace Corvane {
namespace Testing {
namespace {

// What the loader resolves for `module`, every dependency down the tree.
std::string SharedLibrariesOf(const std::string& module) {
  std::string output;
  FILE* pipe = popen(("ldd '" + module + "' 2>&1").c_str(), "r");
  if (!pipe) return output;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe)) output += buffer;
  pclose(pipe);
  return output;
}

std::string MappedFiles() {
  std::ifstream maps("/proc/self/maps");
  std::stringstream text;
  text << maps.rdbuf();
  return text.str();
}

bool Mentions(const std::string& text, const char* name) {
  return text.find(name) != std::string::npos;
}

TEST(HeadlessHostTest, ControlModuleDependsOnNoToolkit) {
  const std::string control = SharedLibrariesOf(CORVANE_BIN_DIR "/CorvaneClient.so");
  ASSERT_TRUE(Mentions(control, "libgobject-2.0")) << control;
  EXPECT_FALSE(Mentions(control, "libgtk")) << control;
  EXPECT_FALSE(Mentions(control, "libgdk")) << control;
  // The same look at the user-interface module finds GTK 4, so the check
  // above would see a toolkit if there were one.
  const std::string ui = SharedLibrariesOf(CORVANE_BIN_DIR "/CorvaneClientUi.so");
  EXPECT_TRUE(Mentions(ui, "libgtk-4")) << ui;
  EXPECT_TRUE(Mentions(ui, "CorvaneClient.so")) << ui;
}

class HeadlessDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
      if (const char* value = getenv(name)) saved_.emplace_back(name, value);
      unsetenv(name);
    }
    control_ = corvane_client_ctrl_new();
  }
  void TearDown() override {
    g_object_unref(control_);
    g_clear_error(&error_);
    for (const auto& entry : saved_) setenv(entry.first.c_str(), entry.second.c_str(), 1);
  }

  void ExpectNoDisplay(gboolean shown) {
    EXPECT_FALSE(shown);
    ASSERT_NE(error_, nullptr);
    EXPECT_EQ(error_->domain, CORVANE_CLIENT_ERROR);
    EXPECT_EQ(error_->code, CORVANE_CLIENT_ERROR_NO_DISPLAY) << error_->message;
    EXPECT_TRUE(Mentions(error_->message, "No display")) << error_->message;
    g_clear_error(&error_);
  }

  std::vector<std::pair<std::string, std::string>> saved_;
  CorvaneClientCtrl* control_ = nullptr;
  GError* error_ = nullptr;
};

TEST_F(HeadlessDialogTest, DialogsWithoutADisplayFailWithoutLoadingTheToolkit) {
  ExpectNoDisplay(corvane_client_ctrl_about_box(control_, &error_));
  ExpectNoDisplay(corvane_client_ctrl_show_property_page(control_, &error_));
  const std::string maps = MappedFiles();
  EXPECT_FALSE(Mentions(maps, "libgtk")) << "a headless host loaded GTK";
  EXPECT_FALSE(Mentions(maps, "CorvaneClientUi.so")) << "a headless host loaded the UI module";
}

}  // namespace
}  // namespace Testing
}  // namespace Corvane
