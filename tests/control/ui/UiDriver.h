#pragma once
// Drives GTK widgets as a person does, for the dialog tests: finds fields by
// their labels and buttons by their text, types, clicks, waits (with a bound)
// for the main loop to bring a condition about, and saves what a widget
// shows as a PNG.

#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

namespace Corvane {
namespace Testing {

class UiDriver {
 public:
  /// Iterates GTK's main context until `condition` holds; false when it still
  /// does not after `timeoutMs`.
  static bool IterateUntil(const std::function<bool()>& condition, int timeoutMs = 10000);

  /// The widget a label with exactly `text` labels (its mnemonic widget).
  static GtkWidget* FieldLabelled(GtkWidget* root, const char* text);
  /// The first button (or check button) under `root` whose label is `text`.
  static GtkWidget* Button(GtkWidget* root, const char* text);
  /// Every label under `root` that is drawn (mapped), by its text.
  static std::vector<std::string> ShownLabels(GtkWidget* root);
  /// The label shown beside `field` in its grid row, or null.
  static GtkWidget* MessageBeside(GtkWidget* field);
  /// The toplevel window titled `title`, or null.
  static GtkWindow* Window(const char* title);

  /// Replaces the field's text, as typing over a selected field does.
  static void Type(GtkWidget* field, const char* text);
  /// Whether the keyboard focus of the field's window is in `field` (an
  /// entry passes it to the text inside).
  static bool HasFocus(GtkWidget* field);
  /// Presses a button; false (nothing happens) when it cannot be pressed:
  /// missing, insensitive or not shown.
  static bool Click(GtkWidget* button);

  /// Whether `widget` has been laid out at the size it asks for and is shown.
  static bool IsLaidOut(GtkWidget* widget);
  /// Renders `widget` with its window's renderer and saves it at `path`.
  static bool SaveScreenshot(GtkWidget* widget, const std::string& path);
  /// The screenshot directory of the build, created when missing.
  static std::string ScreenshotPath(const char* fileName);
};

}  // namespace Testing
}  // namespace Corvane
