#include "control/ProgIdActivator.h"

#include <map>
#include <mutex>
#include <utility>

#include "control/CorvaneClientCtrl.h"
#include "control/CorvaneClientModule.h"
#include "control/RegistryFile.h"
#include "platform/DynamicLibrary.h"

namespace Corvane {
namespace Control {

namespace {

using GetClassObjectFunction = gint32 (*)(const gchar*, const gchar*, gpointer*);
using CreateInstanceFunction = GObject* (*)(const gchar*, GObject*, GError**);

std::mutex& ModulesMutex() {
  static std::mutex mutex;
  return mutex;
}

// Every module loaded for a creation, by path. Never destroyed: unloading a
// module at exit while one of its objects lives would leave that object
// without code.
std::map<std::string, Platform::DynamicLibrary>& LoadedModules() {
  static auto* modules = new std::map<std::string, Platform::DynamicLibrary>();
  return *modules;
}

// The module at `path`, loaded once and kept; a failed load is not kept, so a
// module installed later is found.
Platform::DynamicLibrary LoadModule(const std::string& path) {
  std::lock_guard<std::mutex> lock(ModulesMutex());
  auto& modules = LoadedModules();
  const auto found = modules.find(path);
  if (found != modules.end()) return found->second;
  Platform::DynamicLibrary module(path);
  if (module.IsLoaded()) modules.emplace(path, module);
  return module;
}

}  // namespace

ProgIdActivator::ProgIdActivator(std::string registryPath)
    : registry_path_(std::move(registryPath)) {}

GObject* ProgIdActivator::Create(const std::string& progId, GObject* subject,
                                 GError** error) const {
  RegistryFile registry(registry_path_);
  std::string failure;
  if (!registry.Load(failure)) {
    g_set_error(error, CORVANE_CLIENT_ERROR, CORVANE_CLIENT_ERROR_REGISTRY, "%s", failure.c_str());
    return nullptr;
  }

  std::string clsid;
  if (!registry.GetValue("ProgID\\" + progId, "CLSID", clsid)) {
    g_set_error(error, CORVANE_CLIENT_ERROR, CORVANE_CLIENT_ERROR_NOT_REGISTERED,
                "ProgID \"%s\" is not registered in %s", progId.c_str(), registry_path_.c_str());
    return nullptr;
  }
  std::string modulePath;
  if (!registry.GetValue("CLSID\\" + clsid, "InprocServer32", modulePath) || modulePath.empty()) {
    g_set_error(error, CORVANE_CLIENT_ERROR, CORVANE_CLIENT_ERROR_NOT_REGISTERED,
                "Class %s of ProgID \"%s\" has no module registered in %s", clsid.c_str(),
                progId.c_str(), registry_path_.c_str());
    return nullptr;
  }

  const Platform::DynamicLibrary module = LoadModule(modulePath);
  if (!module.IsLoaded()) {
    g_set_error(error, CORVANE_CLIENT_ERROR, CORVANE_CLIENT_ERROR_MODULE,
                "Cannot load module %s of ProgID \"%s\": %s", modulePath.c_str(), progId.c_str(),
                module.GetLoadFailure().text.c_str());
    return nullptr;
  }
  Platform::DynamicLibrary::Failure lookupFailure;
  const auto getClassObject =
      reinterpret_cast<GetClassObjectFunction>(module.Symbol("DllGetClassObject", lookupFailure));
  if (!getClassObject) {
    g_set_error(error, CORVANE_CLIENT_ERROR, CORVANE_CLIENT_ERROR_MODULE,
                "Module %s of ProgID \"%s\" provides no classes: %s", modulePath.c_str(),
                progId.c_str(), lookupFailure.text.c_str());
    return nullptr;
  }

  gpointer object = nullptr;
  const gint32 result = getClassObject(clsid.c_str(), CORVANE_CLIENT_IID_CLASS_FACTORY, &object);
  if (result == CORVANE_CLIENT_CLASS_E_CLASSNOTAVAILABLE) {
    g_set_error(error, CORVANE_CLIENT_ERROR, CORVANE_CLIENT_ERROR_MODULE,
                "Class %s of ProgID \"%s\" is not available in module %s", clsid.c_str(),
                progId.c_str(), modulePath.c_str());
    return nullptr;
  }
  const auto* factory = static_cast<const CorvaneClassFactory*>(object);
  if (result != CORVANE_CLIENT_S_OK || !factory || !factory->create_instance) {
    g_set_error(error, CORVANE_CLIENT_ERROR, CORVANE_CLIENT_ERROR_MODULE,
                "Module %s gives no class object for class %s of ProgID \"%s\" (0x%08X)",
                modulePath.c_str(), clsid.c_str(), progId.c_str(), static_cast<guint32>(result));
    return nullptr;
  }
  // A module that can say why it made nothing is asked that way.
  Platform::DynamicLibrary::Failure noCreateFor;
  const auto createFor = reinterpret_cast<CreateInstanceFunction>(
      module.Symbol("corvane_client_module_create_instance", noCreateFor));
  if (createFor) return createFor(clsid.c_str(), subject, error);
  GObject* instance = factory->create_instance();
  if (!instance) {
    g_set_error(error, CORVANE_CLIENT_ERROR, CORVANE_CLIENT_ERROR_MODULE,
                "Module %s made no object of class %s of ProgID \"%s\"", modulePath.c_str(),
                clsid.c_str(), progId.c_str());
  }
  return instance;
}

}  // namespace Control
}  // namespace Corvane
