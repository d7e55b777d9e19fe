#include "control/ui/UiDriver.h"

#include <chrono>

namespace Corvane {
namespace Testing {

namespace {

template <typename Visit>
void Walk(GtkWidget* root, const Visit& visit) {
  if (!root) return;
  visit(root);
  for (GtkWidget* child = gtk_widget_get_first_child(root); child;
       child = gtk_widget_get_next_sibling(child)) {
    Walk(child, visit);
  }
}

}  // namespace

bool UiDriver::IterateUntil(const std::function<bool()>& condition, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    // Never blocks: a short poll keeps the deadline honest when no source is
    // ready.
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
  }
  return true;
}

GtkWidget* UiDriver::FieldLabelled(GtkWidget* root, const char* text) {
  GtkWidget* found = nullptr;
  Walk(root, [&](GtkWidget* widget) {
    if (!found && GTK_IS_LABEL(widget) && g_strcmp0(gtk_label_get_text(GTK_LABEL(widget)), text) == 0) {
      found = gtk_label_get_mnemonic_widget(GTK_LABEL(widget));
    }
  });
  return found;
}

GtkWidget* UiDriver::Button(GtkWidget* root, const char* text) {
  GtkWidget* found = nullptr;
  Walk(root, [&](GtkWidget* widget) {
    if (found) return;
    if (GTK_IS_BUTTON(widget) && g_strcmp0(gtk_button_get_label(GTK_BUTTON(widget)), text) == 0) {
      found = widget;
    } else if (GTK_IS_CHECK_BUTTON(widget) &&
               g_strcmp0(gtk_check_button_get_label(GTK_CHECK_BUTTON(widget)), text) == 0) {
      found = widget;
    }
  });
  return found;
}

std::vector<std::string> UiDriver::ShownLabels(GtkWidget* root) {
  std::vector<std::string> labels;
  Walk(root, [&](GtkWidget* widget) {
    if (GTK_IS_LABEL(widget) && gtk_widget_get_mapped(widget)) {
      labels.emplace_back(gtk_label_get_text(GTK_LABEL(widget)));
    }
  });
  return labels;
}

GtkWidget* UiDriver::MessageBeside(GtkWidget* field) {
  GtkWidget* grid = gtk_widget_get_parent(field);
  if (!GTK_IS_GRID(grid)) return nullptr;
  int column = 0;
  int row = 0;
  gtk_grid_query_child(GTK_GRID(grid), field, &column, &row, nullptr, nullptr);
  return gtk_grid_get_child_at(GTK_GRID(grid), column + 1, row);
}

GtkWindow* UiDriver::Window(const char* title) {
  GListModel* toplevels = gtk_window_get_toplevels();
  GtkWindow* found = nullptr;
  for (guint i = 0; !found && i < g_list_model_get_n_items(toplevels); ++i) {
    auto* window = GTK_WINDOW(g_list_model_get_item(toplevels, i));
    if (g_strcmp0(gtk_window_get_title(window), title) == 0) found = window;
    g_object_unref(window);
  }
  return found;
}

void UiDriver::Type(GtkWidget* field, const char* text) {
  gtk_widget_grab_focus(field);
  gtk_editable_set_text(GTK_EDITABLE(field), text);
}

bool UiDriver::HasFocus(GtkWidget* field) {
  GtkRoot* root = gtk_widget_get_root(field);
  GtkWidget* focus = root ? gtk_root_get_focus(root) : nullptr;
  return focus && (focus == field || gtk_widget_is_ancestor(focus, field));
}

bool UiDriver::Click(GtkWidget* button) {
  // What a press and release does, at once: a keyboard activation would
  // emit "clicked" only after its animation.
  if (!button || !gtk_widget_is_sensitive(button) || !gtk_widget_get_mapped(button)) return false;
  g_signal_emit_by_name(button, "clicked");
  return true;
}

bool UiDriver::IsLaidOut(GtkWidget* widget) {
  if (!gtk_widget_get_mapped(widget)) return false;
  int minimumWidth = 0;
  int minimumHeight = 0;
  gtk_widget_measure(widget, GTK_ORIENTATION_HORIZONTAL, -1, &minimumWidth, nullptr, nullptr,
                     nullptr);
  gtk_widget_measure(widget, GTK_ORIENTATION_VERTICAL, gtk_widget_get_width(widget),
                     &minimumHeight, nullptr, nullptr, nullptr);
  return gtk_widget_get_width(widget) >= minimumWidth &&
         gtk_widget_get_height(widget) >= minimumHeight && gtk_widget_get_width(widget) > 0;
}

bool UiDriver::SaveScreenshot(GtkWidget* widget, const std::string& path) {
  const int width = gtk_widget_get_width(widget);
  const int height = gtk_widget_get_height(widget);
  GtkNative* native = gtk_widget_get_native(widget);
  if (width <= 0 || height <= 0 || !native) return false;
  GdkPaintable* paintable = gtk_widget_paintable_new(widget);
  GtkSnapshot* snapshot = gtk_snapshot_new();
  gdk_paintable_snapshot(paintable, snapshot, width, height);
  GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
  bool saved = false;
  if (node) {
    const graphene_rect_t bounds = GRAPHENE_RECT_INIT(0, 0, static_cast<float>(width),
                                                      static_cast<float>(height));
    GdkTexture* texture = gsk_renderer_render_texture(gtk_native_get_renderer(native), node, &bounds);
    saved = gdk_texture_save_to_png(texture, path.c_str());
    g_object_unref(texture);
    gsk_render_node_unref(node);
  }
  g_object_unref(paintable);
  return saved;
}

std::string UiDriver::ScreenshotPath(const char* fileName) {
  g_mkdir_with_parents(CORVANE_SCREENSHOT_DIR, 0755);
  return std::string(CORVANE_SCREENSHOT_DIR) + "/" + fileName;
}

}  // namespace Testing
}  // namespace Corvane
