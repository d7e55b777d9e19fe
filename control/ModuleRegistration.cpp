#include "control/ModuleRegistration.h"

#include <glib.h>

#include <utility>

#include "control/CorvaneClientApp.h"
#include "control/CorvaneClientModule.h"
#include "control/ModuleClass.h"
#include "control/RegistryFile.h"
#include "platform/TextConversion.h"

namespace Corvane {
namespace Control {

namespace {

const char kModuleFileName[] = "CorvaneClient.so";
const char kTypeLibraryFileName[] = "CorvaneClient-1.0.typelib";
const char kTypeLibraryHelpString[] = "CorvaneClient ActiveX Control module";
const char kNamespace[] = "CorvaneClient";
const char kNamespaceVersion[] = "1.0";
const wchar_t kEventSourceKeyPrefix[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
// Error, warning and information events.
const std::uint32_t kEventTypesSupported = 7;
const std::uint32_t kControlMiscStatus = 0x20591;
const char kThreadingModel[] = "Apartment";

std::string TypeLibraryBaseKey() { return std::string("TypeLib\\") + CORVANE_CLIENT_LIBID; }

std::string ClassKey(const ModuleClass& moduleClass) {
  return std::string("CLSID\\") + moduleClass.clsid;
}

std::string ProgIdKey(const ModuleClass& moduleClass) {
  return std::string("ProgID\\") + moduleClass.progId;
}

}  // namespace

ModuleRegistration ModuleRegistration::ForThisModule() {
  const CorvaneClientApp& application = CorvaneClientApp::Instance();
  static const auto logging =
      std::make_shared<const Logging::LoggerConfiguration>(application.GetModuleDirectory());
  return ModuleRegistration(application.GetModuleDirectory(), RegistryFile::DefaultPath(),
                            {application.GetMajorVersion(), application.GetMinorVersion()},
                            logging);
}

ModuleRegistration::ModuleRegistration(std::wstring moduleDirectory, std::string registryPath,
                                       VersionPair typeLibraryVersion,
                                       std::shared_ptr<const Logging::LoggerConfiguration> logging)
    : module_directory_(std::move(moduleDirectory)),
      registry_path_(std::move(registryPath)),
      version_(typeLibraryVersion),
      logging_(std::move(logging)) {
  if (!logging_) logging_ = std::make_shared<const Logging::LoggerConfiguration>(module_directory_);
  const std::string directory = Platform::ToUtf8(module_directory_);
  module_path_ = directory + "/" + kModuleFileName;
  type_library_path_ = directory + "/" + kTypeLibraryFileName;
}

std::int32_t ModuleRegistration::Register() const {
  RegistryFile registry(registry_path_);
  std::string error;
  if (!registry.Load(error) || !RegisterTypeLibrary(registry) || !registry.Save(error)) {
    return CORVANE_CLIENT_SELFREG_E_TYPELIB;
  }
  bool registered = true;
  for (const ModuleClass& moduleClass : ModuleClass::All()) {
    if (!RegisterClass(registry, moduleClass)) {
      registered = false;
      break;
    }
  }
  // What was registered before a failure stays registered.
  if (!registry.Save(error) || !registered) return CORVANE_CLIENT_SELFREG_E_CLASS;
  return CORVANE_CLIENT_S_OK;
}

std::int32_t ModuleRegistration::Unregister() const {
  RegistryFile registry(registry_path_);
  std::string error;
  if (!registry.Load(error)) return CORVANE_CLIENT_SELFREG_E_TYPELIB;
  // A type library that is not registered in this version cannot be
  // unregistered: that fails, and nothing else is tried (a missing registry
  // is not created).
  if (!registry.HasKey(GetTypeLibraryKey())) return CORVANE_CLIENT_SELFREG_E_TYPELIB;
  UnregisterTypeLibrary(registry);
  if (registry.HasChanges() && !registry.Save(error)) return CORVANE_CLIENT_SELFREG_E_TYPELIB;
  for (const ModuleClass& moduleClass : ModuleClass::All()) UnregisterClass(registry, moduleClass);
  if (registry.HasChanges() && !registry.Save(error)) return CORVANE_CLIENT_SELFREG_E_CLASS;
  return CORVANE_CLIENT_S_OK;
}

std::string ModuleRegistration::GetTypeLibraryKey() const {
  return TypeLibraryBaseKey() + "\\" + std::to_string(version_.major) + "." +
         std::to_string(version_.minor);
}

std::wstring ModuleRegistration::GetEventSourceKey() const {
  return kEventSourceKeyPrefix + logging_->GetName();
}

bool ModuleRegistration::RegisterTypeLibrary(RegistryFile& registry) const {
  if (!g_file_test(type_library_path_.c_str(), G_FILE_TEST_IS_REGULAR)) return false;
  const std::string key = GetTypeLibraryKey();
  return registry.SetValue(key, "HelpString", kTypeLibraryHelpString) &&
         registry.SetValue(key, "Path", type_library_path_) &&
         registry.SetValue(key, "Namespace", kNamespace) &&
         registry.SetValue(key, "NamespaceVersion", kNamespaceVersion);
}

void ModuleRegistration::UnregisterTypeLibrary(RegistryFile& registry) const {
  registry.DeleteKey(GetTypeLibraryKey());
  // The library's own key goes with its last registered version.
  const std::string base = TypeLibraryBaseKey();
  const std::string below = base + "\\";
  for (const std::string& key : registry.GetKeys()) {
    if (g_ascii_strncasecmp(key.c_str(), below.c_str(), below.size()) == 0) return;
  }
  registry.DeleteKey(base);
}

bool ModuleRegistration::RegisterClass(RegistryFile& registry,
                                       const ModuleClass& moduleClass) const {
  if (moduleClass.kind == ModuleClass::Kind::Control) RegisterEventSource(registry);

  const std::string key = ClassKey(moduleClass);
  bool stored = registry.SetValue(key, "TypeName", moduleClass.typeName) &&
                registry.SetValue(key, "ProgID", moduleClass.progId) &&
                registry.SetValue(key, "InprocServer32", module_path_) &&
                registry.SetValue(key, "ThreadingModel", kThreadingModel) &&
                registry.SetValue(key, "GType", moduleClass.gtypeName);
  if (stored && moduleClass.kind == ModuleClass::Kind::Control) {
    stored =
        registry.SetValue(key, "MiscStatus", kControlMiscStatus) &&
        registry.SetValue(key, "ToolboxBitmap32", module_path_ + ", 1") &&
        registry.SetValue(key, "TypeLib", CORVANE_CLIENT_LIBID) &&
        registry.SetValue(key, "Version",
                          std::to_string(version_.major) + "." + std::to_string(version_.minor));
  }
  const std::string progIdKey = ProgIdKey(moduleClass);
  return stored && registry.SetValue(progIdKey, "CLSID", moduleClass.clsid) &&
         registry.SetValue(progIdKey, "TypeName", moduleClass.typeName);
}

void ModuleRegistration::UnregisterClass(RegistryFile& registry,
                                         const ModuleClass& moduleClass) const {
  if (moduleClass.kind == ModuleClass::Kind::Control) UnregisterEventSource(registry);
  registry.DeleteKey(ClassKey(moduleClass));
  registry.DeleteKey(ProgIdKey(moduleClass));
}

void ModuleRegistration::RegisterEventSource(RegistryFile& registry) const {
  const std::wstring key = GetEventSourceKey();
  if (key.size() > kMaxEventSourceKeyLength) return;
  const std::string keyText = Platform::ToUtf8(key);
  if (registry.SetValue(keyText, "EventMessageFile",
                        Platform::ToUtf8(logging_->GetMessageFiles()))) {
    registry.SetValue(keyText, "TypesSupported", kEventTypesSupported);
  }
}

void ModuleRegistration::UnregisterEventSource(RegistryFile& registry) const {
  const std::wstring key = GetEventSourceKey();
  if (key.size() > kMaxEventSourceKeyLength) return;
  registry.DeleteKey(Platform::ToUtf8(key));
}

}  // namespace Control
}  // namespace Corvane
