#pragma once
// The control's user-interface module, CorvaneClientUi.so beside the control
// module: loaded on the first request for a dialog, so that a host that never
// shows one never loads a toolkit. It stays loaded for the rest of the process
// (a toolkit cannot be unloaded safely).

#include <glib-object.h>

#include <mutex>
#include <string>

#include "platform/DynamicLibrary.h"

namespace Corvane {
namespace Control {

class UiModule {
 public:
  /// The file name looked up in the control module's directory.
  static constexpr const char* kFileName = "CorvaneClientUi.so";

  /// The module beside the control module.
  static UiModule& Instance();

  /// Whether the environment names a display (DISPLAY or WAYLAND_DISPLAY).
  /// Checked before loading anything, so that a headless host asking for a
  /// dialog gets an error without pulling in the toolkit.
  static bool HasDisplay();

  /// Shows the about box modally; returns when it is closed. False with
  /// `error` set when there is no display or the module cannot be loaded.
  bool ShowAboutBox(GObject* control, GError** error);
  /// Shows the property page in a dialog of its own (the properties verb);
  /// returns when it is closed. Fails as ShowAboutBox does.
  bool ShowPropertyPage(GObject* control, GError** error);
  /// A new property page bound to `control` (a reference the caller owns),
  /// for the page's class object. Null with `error` set as ShowAboutBox.
  GObject* NewPropertyPage(GObject* control, GError** error);
  /// The property page's type; G_TYPE_INVALID without a display or when the
  /// module cannot be loaded.
  GType PropertyPageType();

  UiModule(const UiModule&) = delete;
  UiModule& operator=(const UiModule&) = delete;

 private:
  explicit UiModule(std::string path);

  // The export `name`, loading the module first when needed; null with
  // `error` set on failure. A failed load is retried on the next request.
  void* Resolve(const char* name, GError** error);

  std::string path_;
  std::mutex mutex_;
  Platform::DynamicLibrary library_;
};

}  // namespace Control
}  // namespace Corvane
