#include "control/ui/PropertyFrame.h"

#include "control/ui/CorvaneClientPropPage.h"

namespace Corvane {
namespace Control {

namespace {

CorvaneClientPropPage* PageOf(gpointer window) {
  return CORVANE_CLIENT_PROP_PAGE(g_object_get_data(G_OBJECT(window), "corvane-prop-page"));
}

void OnOk(GtkButton*, gpointer window) {
  if (corvane_client_prop_page_apply(PageOf(window))) gtk_window_destroy(GTK_WINDOW(window));
}

void OnCancel(GtkButton*, gpointer window) { gtk_window_destroy(GTK_WINDOW(window)); }

void OnApply(GtkButton*, gpointer window) { corvane_client_prop_page_apply(PageOf(window)); }

GtkWidget* AddButton(GtkWidget* row, const char* label, GCallback handler, GtkWindow* window) {
  GtkWidget* button = gtk_button_new_with_label(label);
  gtk_widget_set_size_request(button, 88, -1);
  g_signal_connect(button, "clicked", handler, window);
  gtk_box_append(GTK_BOX(row), button);
  return button;
}

}  // namespace

GtkWindow* PropertyFrame::Create(CorvaneClientCtrl* control) {
  GtkWindow* window = GTK_WINDOW(gtk_window_new());
  gtk_window_set_title(window, kTitle);
  gtk_window_set_resizable(window, FALSE);

  GtkWidget* content = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
  gtk_widget_set_margin_top(content, 12);
  gtk_widget_set_margin_bottom(content, 12);
  gtk_widget_set_margin_start(content, 12);
  gtk_widget_set_margin_end(content, 12);

  GtkWidget* page = corvane_client_prop_page_new(control);
  g_object_set_data(G_OBJECT(window), "corvane-prop-page", page);
  GtkWidget* tabs = gtk_notebook_new();
  gtk_notebook_append_page(GTK_NOTEBOOK(tabs), page,
                           gtk_label_new(CORVANE_CLIENT_PROP_PAGE_CAPTION));
  gtk_box_append(GTK_BOX(content), tabs);

  GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_widget_set_halign(buttons, GTK_ALIGN_END);
  GtkWidget* ok = AddButton(buttons, "OK", G_CALLBACK(OnOk), window);
  gtk_widget_add_css_class(ok, "suggested-action");
  AddButton(buttons, "Cancel", G_CALLBACK(OnCancel), window);
  AddButton(buttons, "Apply", G_CALLBACK(OnApply), window);
  gtk_box_append(GTK_BOX(content), buttons);

  gtk_window_set_child(window, content);
  gtk_window_set_default_widget(window, ok);
  return window;
}

}  // namespace Control
}  // namespace Corvane
