// The dialog tests' main: one Xvfb per test process, and GTK told to use it
// with nothing of the desktop (no accessibility bus, no settings daemon, the
// software renderer), so the tests see the same pixels on every machine.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>

#include "control/ui/XvfbDisplay.h"

namespace {

class XvfbEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    display_ = std::make_unique<Corvane::Testing::XvfbDisplay>();
    ASSERT_TRUE(display_->IsRunning()) << display_->GetFailure();
    setenv("DISPLAY", display_->GetName().c_str(), 1);
  }
  void TearDown() override { display_.reset(); }

 private:
  std::unique_ptr<Corvane::Testing::XvfbDisplay> display_;
};

}  // namespace

int main(int argc, char** argv) {
  unsetenv("WAYLAND_DISPLAY");
  setenv("GDK_BACKEND", "x11", 1);
  setenv("GSK_RENDERER", "cairo", 1);
  setenv("GTK_A11Y", "none", 1);
  setenv("GSETTINGS_BACKEND", "memory", 1);
  setenv("GTK_THEME", "Adwaita", 1);
  ::testing::InitGoogleTest(&argc, argv);
  // A death test runs in a fresh process, where GTK is not yet initialised.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ::testing::AddGlobalTestEnvironment(new XvfbEnvironment());
  return RUN_ALL_TESTS();
}
