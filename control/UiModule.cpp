#include "control/UiModule.h"

#include <cstdio>
#include <utility>

#include "control/CorvaneClientApp.h"
#include "control/CorvaneClientCtrl.h"
#include "control/VersionBlock.h"
#include "platform/TextConversion.h"

namespace Corvane {
namespace Control {

namespace {

// The user-interface module's entry points (see control/ui/CorvaneClientUi.h).
using ShowAboutBoxFunction = gboolean (*)(GObject* control, const gchar* version, GError** error);
using ShowPropertyPageFunction = gboolean (*)(GObject* control, GError** error);
using NewPropertyPageFunction = gpointer (*)(GObject* control, GError** error);

bool IsSet(const char* name) {
  const char* value = g_getenv(name);
  return value && *value;
}

// "2.0.9.0": the file version of the module's version block.
std::string VersionText() {
  const FileVersion version = ScanFileVersion(ModuleVersionBlock(), {1, 1, 0, 0});
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", version.major, version.minor, version.build,
                version.revision);
  return text;
}

bool NoDisplay(GError** error) {
  g_set_error_literal(error, CORVANE_CLIENT_ERROR, CORVANE_CLIENT_ERROR_NO_DISPLAY,
                      "No display to show the dialog on: neither DISPLAY nor WAYLAND_DISPLAY "
                      "is set");
  return false;
}

}  // namespace

UiModule& UiModule::Instance() {
  // Never destroyed: the module is not unloaded at exit either.
  static auto* module = new UiModule(
      Platform::ToUtf8(CorvaneClientApp::Instance().GetModuleDirectory()) + "/" + kFileName);
  return *module;
}

UiModule::UiModule(std::string path) : path_(std::move(path)) {}

bool UiModule::HasDisplay() { return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY"); }

void* UiModule::Resolve(const char* name, GError** error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!library_.IsLoaded()) {
    Platform::DynamicLibrary library(path_);
    if (!library.IsLoaded()) {
      const auto& failure = library.GetLoadFailure();
      g_set_error(error, CORVANE_CLIENT_ERROR, CORVANE_CLIENT_ERROR_MODULE,
                  "The user-interface module could not be loaded.  File is %s.  Error message "
                  "is (%d) %s.",
                  path_.c_str(), failure.code, failure.text.c_str());
      return nullptr;
    }
    library_ = std::move(library);
  }
  Platform::DynamicLibrary::Failure failure;
  void* address = library_.Symbol(name, failure);
  if (!address) {
    g_set_error(error, CORVANE_CLIENT_ERROR, CORVANE_CLIENT_ERROR_MODULE,
                "%s function could not be loaded from %s.  Error message is (%d) %s.", name,
                path_.c_str(), failure.code, failure.text.c_str());
  }
  return address;
}

bool UiModule::ShowAboutBox(GObject* control, GError** error) {
  if (!HasDisplay()) return NoDisplay(error);
  auto show = reinterpret_cast<ShowAboutBoxFunction>(
      Resolve("corvane_client_ui_show_about_box", error));
  return show && show(control, VersionText().c_str(), error);
}

bool UiModule::ShowPropertyPage(GObject* control, GError** error) {
  if (!HasDisplay()) return NoDisplay(error);
  auto show = reinterpret_cast<ShowPropertyPageFunction>(
      Resolve("corvane_client_ui_show_property_page", error));
  return show && show(control, error);
}

GType UiModule::PropertyPageType() {
  if (!HasDisplay()) return G_TYPE_INVALID;
  auto getType = reinterpret_cast<GType (*)()>(Resolve("corvane_client_prop_page_get_type", nullptr));
  return getType ? getType() : G_TYPE_INVALID;
}

GObject* UiModule::NewPropertyPage(GObject* control, GError** error) {
  if (!HasDisplay()) {
    NoDisplay(error);
    return nullptr;
  }
  auto create = reinterpret_cast<NewPropertyPageFunction>(
      Resolve("corvane_client_ui_new_property_page", error));
  return create ? static_cast<GObject*>(create(control, error)) : nullptr;
}

}  // namespace Control
}  // namespace Corvane
