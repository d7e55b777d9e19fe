#pragma once
// The registry the control module registers itself in and creates classes
// from: a key file that stands in for the system registry of the platform the
// control was designed for.
//
// Layout: a registry key is a key-file group named by the key's path, its
// parts joined with '\' as registry paths are written ("CLSID\{...}",
// "TypeLib\{...}\2.0"). The key's values are the group's entries, all held as
// text; numbers are written in decimal. A key below another is a group of its
// own, and deleting a key deletes every group below it. Key and value names
// are matched without regard to case, as the registry matches them; a new key
// or value keeps the spelling it was first written with.
//
// The file is named by the environment variable CORVANE_REGISTRY, else it is
// corvane/registry.ini in the user's configuration directory
// ($XDG_CONFIG_HOME, else $HOME/.config).

#include <glib.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Corvane {
namespace Control {

/// One registry file, read into memory by Load and written back by Save.
/// Names and values are UTF-8.
///
/// A file that exists but cannot be read or parsed is an error, and an object
/// whose Load failed refuses to Save, so such a file is never overwritten.
///
/// Thread-safety: none; use an object from one thread at a time. Writers in
/// different processes are not serialised: the last Save wins.
class RegistryFile {
 public:
  /// CORVANE_REGISTRY when it is set and not empty, else the per-user file.
  static std::string DefaultPath();
  /// The rule of DefaultPath for given values of CORVANE_REGISTRY,
  /// XDG_CONFIG_HOME and HOME (null when unset): the first, when not empty;
  /// else corvane/registry.ini under the second, when it is an absolute path;
  /// else .config/corvane/registry.ini under the third.
  static std::string PathFor(const char* registry, const char* configHome, const char* home);

  /// An empty registry for the file at `path`; nothing is read yet.
  explicit RegistryFile(std::string path);
  ~RegistryFile();
  RegistryFile(RegistryFile&& other) noexcept;
  RegistryFile& operator=(RegistryFile&& other) noexcept;
  RegistryFile(const RegistryFile&) = delete;
  RegistryFile& operator=(const RegistryFile&) = delete;

  const std::string& GetPath() const { return path_; }

  /// Reads the file, replacing what the object held; a missing file reads as
  /// empty. False, with the reason in `error`, when the file exists but cannot
  /// be read or is not a valid key file; the object is then empty.
  bool Load(std::string& error);
  /// Writes the registry, creating the file's directory when needed and
  /// replacing the file in one step. False, with the reason in `error`, when
  /// it cannot, and always when the object was not loaded successfully.
  bool Save(std::string& error);

  bool HasKey(const std::string& key) const;
  /// The keys, in file order.
  std::vector<std::string> GetKeys() const;
  /// The names of the values of `key`, in file order; empty when it is missing.
  std::vector<std::string> GetValueNames(const std::string& key) const;

  /// The text of value `name` of `key`; false when either is missing.
  bool GetValue(const std::string& key, const std::string& name, std::string& value) const;
  /// Sets value `name` of `key`, creating the key when needed. False, and
  /// nothing changed, when a name cannot be stored: an empty name, a key name
  /// with '[', ']' or control characters, a value name with '=', '[', ']',
  /// control characters, a leading '#' or blanks at either end, or text that
  /// is not UTF-8.
  bool SetValue(const std::string& key, const std::string& name, const std::string& value);
  bool SetValue(const std::string& key, const std::string& name, std::uint32_t value);

  /// Removes `key` with its values and every key below it; a missing key is
  /// no failure.
  void DeleteKey(const std::string& key);

  /// Whether SetValue or DeleteKey changed anything since the last Load or
  /// Save.
  bool HasChanges() const { return changed_; }

 private:
  enum class State { NotLoaded, Loaded, Failed };

  // The group that spells `key` (without regard to case), or empty.
  std::string FindGroup(const std::string& key) const;
  // The entry of `group` that spells `name` (without regard to case), or empty.
  std::string FindEntry(const std::string& group, const std::string& name) const;

  std::string path_;
  std::unique_ptr<GKeyFile, void (*)(GKeyFile*)> file_;
  State state_ = State::NotLoaded;
  bool changed_ = false;
};

}  // namespace Control
}  // namespace Corvane
