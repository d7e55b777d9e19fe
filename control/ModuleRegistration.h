#pragma once
// Registration of the control module in the registry file, as
// DllRegisterServer and DllUnregisterServer perform it.
//
// Keys written (see RegistryFile for the file's layout; <module> is the
// absolute path of CorvaneClient.so, <version> the module's version pair as
// "major.minor"):
//
//   TypeLib\{libid}\<version>
//       HelpString        CorvaneClient ActiveX Control module
//       Path              <module directory>/CorvaneClient-1.0.typelib
//       Namespace         CorvaneClient
//       NamespaceVersion  1.0
//   SYSTEM\CurrentControlSet\Services\EventLog\Application\<event source>
//       EventMessageFile  the message files of the logging configuration
//       TypesSupported    7 (error, warning and information)
//   CLSID\{clsid}         one for each class: control, property page, Application
//       TypeName          "CorvaneClient Control", "CorvaneClient Property Page",
//                         "CorvaneClient.Application"
//       ProgID            the class's ProgID
//       InprocServer32    <module>
//       ThreadingModel    Apartment
//       GType             CorvaneClientCtrl, CorvaneClientPropPage, CorvaneClientApplication
//     and for the control only:
//       MiscStatus        132497 (0x20591)
//       ToolboxBitmap32   <module>, 1
//       TypeLib           {libid}
//       Version           <version>
//   ProgID\<ProgID>       one for each class
//       CLSID             {clsid}
//       TypeName          as above
//
// The event source is the name of the logging configuration beside the module
// (logger.ini, key "name", default "Corvane"); a bare message-file name there
// is taken in the module's directory.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "control/VersionBlock.h"
#include "logging/LoggerConfiguration.h"

namespace Corvane {
namespace Control {

class RegistryFile;
struct ModuleClass;

class ModuleRegistration {
 public:
  /// Longest event-source key name that is registered, in characters; a
  /// longer one is skipped.
  static constexpr std::size_t kMaxEventSourceKeyLength = 259;

  /// The registration of this module: its own directory, the registry at
  /// RegistryFile::DefaultPath(), its version pair, and the logging
  /// configuration beside it (read once per process).
  static ModuleRegistration ForThisModule();

  /// The registration of a control module in `moduleDirectory`, in the
  /// registry file at `registryPath`, with type library version
  /// `typeLibraryVersion`. `logging` gives the event source; null reads the
  /// configuration beside the module now.
  ModuleRegistration(std::wstring moduleDirectory, std::string registryPath,
                     VersionPair typeLibraryVersion,
                     std::shared_ptr<const Logging::LoggerConfiguration> logging = nullptr);

  /// Registers the type library, then every class. Returns
  /// CORVANE_CLIENT_S_OK; CORVANE_CLIENT_SELFREG_E_TYPELIB when the type
  /// library file is not beside the module or the registry cannot be read or
  /// written (nothing is written then); CORVANE_CLIENT_SELFREG_E_CLASS when a
  /// class cannot be registered. A failure to register the event source is
  /// ignored.
  std::int32_t Register() const;
  /// Removes what Register writes. CORVANE_CLIENT_SELFREG_E_TYPELIB, with
  /// nothing removed, when the registry cannot be read or written or holds
  /// no type library of this version (nothing registered, or unregistered
  /// already); CORVANE_CLIENT_SELFREG_E_CLASS when the classes' removal
  /// cannot be written. Class keys already missing are no failure.
  std::int32_t Unregister() const;

  /// Absolute path of the control module's file, UTF-8.
  const std::string& GetModulePath() const { return module_path_; }
  /// Path of the type library file beside the module, UTF-8.
  const std::string& GetTypeLibraryPath() const { return type_library_path_; }
  /// The key of the type library for the version pair.
  std::string GetTypeLibraryKey() const;
  /// The key of the event source.
  std::wstring GetEventSourceKey() const;

 private:
  bool RegisterTypeLibrary(RegistryFile& registry) const;
  void UnregisterTypeLibrary(RegistryFile& registry) const;
  bool RegisterClass(RegistryFile& registry, const ModuleClass& moduleClass) const;
  void UnregisterClass(RegistryFile& registry, const ModuleClass& moduleClass) const;
  // Failures are ignored: the classes are registered without an event source.
  void RegisterEventSource(RegistryFile& registry) const;
  void UnregisterEventSource(RegistryFile& registry) const;

  std::wstring module_directory_;
  std::string registry_path_;
  VersionPair version_;
  std::shared_ptr<const Logging::LoggerConfiguration> logging_;
  std::string module_path_;
  std::string type_library_path_;
};

}  // namespace Control
}  // namespace Corvane
