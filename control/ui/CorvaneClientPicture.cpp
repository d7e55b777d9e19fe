// The designer picture: the raised edge of a Windows control (two lines on
// each side, light above and left, dark below and right) drawn around the
// bounds, then the bitmap in what the edge leaves.

#include "control/ui/CorvaneClientPicture.h"

struct _CorvaneClientPicture {
  GtkWidget parent_instance;
  GdkTexture* bitmap;
};

G_DEFINE_TYPE(CorvaneClientPicture, corvane_client_picture, GTK_TYPE_WIDGET)

namespace {

const char kBitmapResource[] = "/org/corvane/CorvaneClientUi/control-bitmap.png";
// The edge takes two pixels on every side.
const int kEdge = 2;

// The classic three-dimensional element colours.
const GdkRGBA kLight = {0.89f, 0.89f, 0.89f, 1.0f};
const GdkRGBA kHighlight = {1.0f, 1.0f, 1.0f, 1.0f};
const GdkRGBA kShadow = {0.63f, 0.63f, 0.63f, 1.0f};
const GdkRGBA kDarkShadow = {0.41f, 0.41f, 0.41f, 1.0f};
const GdkRGBA kFace = {0.925f, 0.925f, 0.91f, 1.0f};

void Fill(GtkSnapshot* snapshot, const GdkRGBA& colour, float x, float y, float width,
          float height) {
  const graphene_rect_t rect = GRAPHENE_RECT_INIT(x, y, width, height);
  gtk_snapshot_append_color(snapshot, &colour, &rect);
}

// One ring of the edge inside the rectangle (x, y, w, h): `topLeft` along the
// top and left, `bottomRight` along the bottom and right.
void Ring(GtkSnapshot* snapshot, float x, float y, float w, float h, const GdkRGBA& topLeft,
          const GdkRGBA& bottomRight) {
  Fill(snapshot, topLeft, x, y, w - 1, 1);
  Fill(snapshot, topLeft, x, y, 1, h - 1);
  Fill(snapshot, bottomRight, x, y + h - 1, w, 1);
  Fill(snapshot, bottomRight, x + w - 1, y, 1, h);
}

void Measure(GtkWidget*, GtkOrientation orientation, int, int* minimum, int* natural, int*,
             int*) {
  *minimum = *natural = orientation == GTK_ORIENTATION_HORIZONTAL
                            ? CORVANE_CLIENT_PICTURE_WIDTH
                            : CORVANE_CLIENT_PICTURE_HEIGHT;
}

void Snapshot(GtkWidget* widget, GtkSnapshot* snapshot) {
  auto* self = CORVANE_CLIENT_PICTURE(widget);
  const float w = CORVANE_CLIENT_PICTURE_WIDTH;
  const float h = CORVANE_CLIENT_PICTURE_HEIGHT;
  Fill(snapshot, kFace, 0, 0, w, h);
  Ring(snapshot, 0, 0, w, h, kLight, kDarkShadow);
  Ring(snapshot, 1, 1, w - 2, h - 2, kHighlight, kShadow);
  if (self->bitmap) {
    const graphene_rect_t inside = GRAPHENE_RECT_INIT(kEdge, kEdge, w - 2 * kEdge, h - 2 * kEdge);
    gtk_snapshot_append_texture(snapshot, self->bitmap, &inside);
  }
}

void Dispose(GObject* object) {
  g_clear_object(&CORVANE_CLIENT_PICTURE(object)->bitmap);
  G_OBJECT_CLASS(corvane_client_picture_parent_class)->dispose(object);
}

}  // namespace

static void corvane_client_picture_class_init(CorvaneClientPictureClass* klass) {
  G_OBJECT_CLASS(klass)->dispose = Dispose;
  GtkWidgetClass* widget_class = GTK_WIDGET_CLASS(klass);
  widget_class->measure = Measure;
  widget_class->snapshot = Snapshot;
  gtk_widget_class_set_css_name(widget_class, "corvane-client-picture");
}

static void corvane_client_picture_init(CorvaneClientPicture* self) {
  self->bitmap = gdk_texture_new_from_resource(kBitmapResource);
  // A designer may offer more room; the picture keeps its size.
  gtk_widget_set_halign(GTK_WIDGET(self), GTK_ALIGN_START);
  gtk_widget_set_valign(GTK_WIDGET(self), GTK_ALIGN_START);
  gtk_widget_set_tooltip_text(GTK_WIDGET(self), "CorvaneClient Control");
}

GtkWidget* corvane_client_picture_new(void) {
  return GTK_WIDGET(g_object_new(CORVANE_CLIENT_TYPE_PICTURE, nullptr));
}
