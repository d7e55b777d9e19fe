// The control's picture for a form designer, rendered under Xvfb: its fixed
// size, the raised edge's two rings and the bitmap inside them.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "control/ui/CorvaneClientUi.h"
#include "control/ui/UiDriver.h"

namespace Corvane {
namespace Testing {
namespace {

struct Pixel {
  int r, g, b;
};

class PictureTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(gtk_init_check()); }
  void TearDown() override {
    if (window_) gtk_window_destroy(window_);
  }

  // Shows the picture in a window much larger than it, as a designer's form.
  GtkWidget* ShowPicture() {
    window_ = GTK_WINDOW(gtk_window_new());
    gtk_window_set_default_size(window_, 200, 150);
    GtkWidget* picture = corvane_client_picture_new();
    gtk_window_set_child(window_, picture);
    gtk_window_present(window_);
    EXPECT_TRUE(UiDriver::IterateUntil([&] { return UiDriver::IsLaidOut(picture); }));
    return picture;
  }

  // Renders the picture at its own size and reads its pixels back.
  std::vector<std::uint8_t> Render(GtkWidget* picture, const std::string& path) {
    EXPECT_TRUE(UiDriver::SaveScreenshot(picture, path));
    GError* error = nullptr;
    GdkTexture* texture = gdk_texture_new_from_filename(path.c_str(), &error);
    EXPECT_NE(texture, nullptr) << (error ? error->message : "");
    if (!texture) return {};
    width_ = gdk_texture_get_width(texture);
    height_ = gdk_texture_get_height(texture);
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width_ * height_ * 4));
    gdk_texture_download(texture, pixels.data(), static_cast<gsize>(width_ * 4));
    g_object_unref(texture);
    return pixels;
  }

  // Cairo's order on a little-endian machine: B, G, R, A.
  Pixel At(const std::vector<std::uint8_t>& pixels, int x, int y) const {
    const std::size_t i = static_cast<std::size_t>((y * width_ + x) * 4);
    return {pixels[i + 2], pixels[i + 1], pixels[i]};
  }

  GtkWindow* window_ = nullptr;
  int width_ = 0;
  int height_ = 0;
};

TEST_F(PictureTest, KeepsItsFixedSizeWhenOfferedMore) {
  GtkWidget* picture = ShowPicture();
  EXPECT_EQ(gtk_widget_get_width(picture), 28);
  EXPECT_EQ(gtk_widget_get_height(picture), 26);
  gtk_window_set_default_size(window_, 400, 300);
  int width = 0;
  int height = 0;
  gtk_widget_measure(picture, GTK_ORIENTATION_HORIZONTAL, 300, &width, nullptr, nullptr, nullptr);
  gtk_widget_measure(picture, GTK_ORIENTATION_VERTICAL, 400, &height, nullptr, nullptr, nullptr);
  EXPECT_EQ(width, 28);
  EXPECT_EQ(height, 26);
}

TEST_F(PictureTest, DrawsARaisedEdgeAroundTheBitmap) {
  GtkWidget* picture = ShowPicture();
  const auto pixels = Render(picture, UiDriver::ScreenshotPath("control-picture.png"));
  ASSERT_EQ(width_, 28);
  ASSERT_EQ(height_, 26);
  auto brightness = [](Pixel p) { return p.r + p.g + p.b; };
  // Raised: the outer ring is light above and left, darkest below and right;
  // the inner ring is white above and left, shadowed below and right.
  const Pixel outerTop = At(pixels, 10, 0);
  const Pixel outerBottom = At(pixels, 10, 25);
  const Pixel outerRight = At(pixels, 27, 10);
  const Pixel innerTop = At(pixels, 10, 1);
  const Pixel innerBottom = At(pixels, 10, 24);
  EXPECT_EQ(brightness(innerTop), 3 * 255);
  EXPECT_GT(brightness(outerTop), brightness(innerBottom));
  EXPECT_GT(brightness(innerBottom), brightness(outerBottom));
  EXPECT_EQ(brightness(outerBottom), brightness(outerRight));
  EXPECT_EQ(brightness(At(pixels, 0, 10)), brightness(outerTop));
  // The bitmap fills what the edge leaves: its hub is blue, where the face
  // around the picture is grey.
  const Pixel hub = At(pixels, 2 + 7, 2 + 11);
  EXPECT_GT(hub.b, hub.r + 60) << hub.r << "," << hub.g << "," << hub.b;

  // For the documentation: each pixel as a square of 6, so the edge can be seen on a page.
  const int scale = 6;
  const int width = width_ * scale;
  const int height = height_ * scale;
  std::vector<std::uint8_t> large(static_cast<std::size_t>(width * height * 4));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::size_t from = static_cast<std::size_t>(((y / scale) * width_ + x / scale) * 4);
      std::copy_n(&pixels[from], 4, &large[static_cast<std::size_t>((y * width + x) * 4)]);
    }
  }
  GBytes* bytes = g_bytes_new(large.data(), large.size());
  GdkTexture* texture = gdk_memory_texture_new(width, height, GDK_MEMORY_DEFAULT, bytes,
                                               static_cast<gsize>(width * 4));
  EXPECT_TRUE(gdk_texture_save_to_png(
      texture, UiDriver::ScreenshotPath("control-picture-enlarged.png").c_str()));
  g_object_unref(texture);
  g_bytes_unref(bytes);
}

}  // namespace
}  // namespace Testing
}  // namespace Corvane
