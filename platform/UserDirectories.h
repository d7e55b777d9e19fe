#pragma once
// Where a module keeps its temporary and received files. Beside the module
// (temp/, files/) where this user may write there, as in a private or
// per-user installation; otherwise, as in a system installation owned by
// root, in per-user directories: temporary files under $XDG_CACHE_HOME/corvane
// and received files under $XDG_DATA_HOME/corvane.

#include <string>

namespace Corvane {
namespace Platform {

/// The engine's temporary directory (UTF-8): the engine.ini key
/// [Paths] TempDirectory, if set, with "corvane-temp" inside it (the engine
/// removes leftovers there at Start, never in the one named); else temp/ in
/// `moduleDirectory` when this user may create or write it; else
/// $XDG_CACHE_HOME/corvane/temp (~/.cache/corvane/temp).
std::string ChooseTempDirectory(const std::wstring& moduleDirectory);

/// The default file directory: files/ in `moduleDirectory` when this user may
/// create or write it; else $XDG_DATA_HOME/corvane/files
/// (~/.local/share/corvane/files), whose parent is created so that the
/// engine may create the directory itself.
std::wstring DefaultFileDirectory(const std::wstring& moduleDirectory);

}  // namespace Platform
}  // namespace Corvane
