#pragma once
// Where a module's own file lies: logger.ini, dtd/, temp/, files/ and the
// engine library are all looked up beside the module, not beside the
// executable and not in the working directory.

#include <string>

namespace Corvane {
namespace Platform {

/// The directory of the module (executable or shared object) that contains
/// `address`: everything before the last '/' of the module's file name, made
/// absolute when the loader recorded a relative name. "." when the module
/// cannot be found (null or unmapped address) or its name has no directory
/// part. Thread-safe; never throws except std::bad_alloc.
std::wstring ModuleDirectoryOf(const void* address);

/// ModuleDirectoryOf an address inside the engine's core code: the
/// directory of Quellor.so when the core is linked into it, of the
/// executable when the core is linked statically into a program (tests).
std::wstring EngineModuleDirectory();

}  // namespace Platform
}  // namespace Corvane
