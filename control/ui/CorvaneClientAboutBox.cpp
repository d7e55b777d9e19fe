#include "control/ui/CorvaneClientAboutBox.h"

struct _CorvaneClientAboutBox {
  GtkWindow parent_instance;
};

G_DEFINE_TYPE(CorvaneClientAboutBox, corvane_client_about_box, GTK_TYPE_WINDOW)

namespace {

const char kIconResource[] = "/org/corvane/CorvaneClientUi/about-icon.png";

void OnOk(GtkButton*, gpointer window) { gtk_window_destroy(GTK_WINDOW(window)); }

}  // namespace

static void corvane_client_about_box_class_init(CorvaneClientAboutBoxClass* klass) {
  gtk_widget_class_add_binding_action(GTK_WIDGET_CLASS(klass), GDK_KEY_Escape,
                                      static_cast<GdkModifierType>(0), "window.close", nullptr);
}

static void corvane_client_about_box_init(CorvaneClientAboutBox* self) {
  GtkWindow* window = GTK_WINDOW(self);
  gtk_window_set_title(window, "About CorvaneClient Control");
  gtk_window_set_resizable(window, FALSE);
}

GtkWindow* corvane_client_about_box_new(const gchar* version) {
  g_return_val_if_fail(version != nullptr, nullptr);
  auto* window = GTK_WINDOW(g_object_new(CORVANE_CLIENT_TYPE_ABOUT_BOX, nullptr));

  GtkWidget* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 18);
  gtk_widget_set_margin_top(content, 18);
  gtk_widget_set_margin_bottom(content, 12);
  gtk_widget_set_margin_start(content, 18);
  gtk_widget_set_margin_end(content, 18);

  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 18);
  GtkWidget* icon = gtk_image_new_from_resource(kIconResource);
  gtk_image_set_pixel_size(GTK_IMAGE(icon), 48);
  gtk_widget_set_valign(icon, GTK_ALIGN_START);
  gtk_box_append(GTK_BOX(row), icon);
  gchar* line = g_strdup_printf("CorvaneClient Control, Version %s", version);
  GtkWidget* text = gtk_label_new(line);
  g_free(line);
  gtk_label_set_xalign(GTK_LABEL(text), 0.0f);
  gtk_label_set_selectable(GTK_LABEL(text), FALSE);
  gtk_widget_set_valign(text, GTK_ALIGN_CENTER);
  gtk_box_append(GTK_BOX(row), text);
  gtk_box_append(GTK_BOX(content), row);

  GtkWidget* ok = gtk_button_new_with_label("OK");
  gtk_widget_set_halign(ok, GTK_ALIGN_END);
  gtk_widget_set_size_request(ok, 88, -1);
  gtk_widget_add_css_class(ok, "suggested-action");
  g_signal_connect(ok, "clicked", G_CALLBACK(OnOk), window);
  gtk_box_append(GTK_BOX(content), ok);

  gtk_window_set_child(window, content);
  gtk_window_set_default_widget(window, ok);
  gtk_widget_grab_focus(ok);
  return window;
}
