#include "control/RegistryFile.h"

#include <cerrno>
#include <utility>

namespace Corvane {
namespace Control {

namespace {

const char kRegistryVariable[] = "CORVANE_REGISTRY";
const char kRelativePath[] = "corvane/registry.ini";

struct ErrorDeleter {
  void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPointer = std::unique_ptr<GError, ErrorDeleter>;

struct TextDeleter {
  void operator()(gchar* text) const { g_free(text); }
};
using TextPointer = std::unique_ptr<gchar, TextDeleter>;

struct TextListDeleter {
  void operator()(gchar** list) const { g_strfreev(list); }
};
using TextListPointer = std::unique_ptr<gchar*, TextListDeleter>;

std::unique_ptr<GKeyFile, void (*)(GKeyFile*)> NewKeyFile() {
  return std::unique_ptr<GKeyFile, void (*)(GKeyFile*)>(g_key_file_new(), &g_key_file_unref);
}

bool IsSet(const char* value) { return value != nullptr && *value != '\0'; }

bool HasControlCharacter(const std::string& text) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return true;
  }
  return false;
}

bool IsUtf8(const std::string& text) {
  return g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr) != FALSE;
}

// What a key-file group name may hold: the group line is "[name]".
bool IsStorableKeyName(const std::string& key) {
  return !key.empty() && IsUtf8(key) && !HasControlCharacter(key) &&
         key.find_first_of("[]") == std::string::npos;
}

// What an entry name may hold: the entry line is "name=value", and a line
// that starts with '#' is a comment.
bool IsStorableValueName(const std::string& name) {
  return !name.empty() && IsUtf8(name) && !HasControlCharacter(name) &&
         name.find_first_of("=[]") == std::string::npos && name.front() != '#' &&
         name.front() != ' ' && name.back() != ' ';
}

// `text` folded for comparison without regard to case; empty for text that is
// not UTF-8, which never matches.
std::string Folded(const std::string& text) {
  if (!IsUtf8(text)) return std::string();
  const TextPointer folded(g_utf8_casefold(text.data(), static_cast<gssize>(text.size())));
  return folded ? std::string(folded.get()) : std::string();
}

std::vector<std::string> ToVector(gchar** list) {
  const TextListPointer owner(list);
  std::vector<std::string> result;
  for (gchar** item = list; item && *item; ++item) result.emplace_back(*item);
  return result;
}

}  // namespace

std::string RegistryFile::DefaultPath() {
  const char* home = g_getenv("HOME");
  return PathFor(g_getenv(kRegistryVariable), g_getenv("XDG_CONFIG_HOME"),
                 IsSet(home) ? home : g_get_home_dir());
}

std::string RegistryFile::PathFor(const char* registry, const char* configHome, const char* home) {
  if (IsSet(registry)) return registry;
  if (IsSet(configHome) && configHome[0] == '/') {
    return std::string(configHome) + "/" + kRelativePath;
  }
  return std::string(home ? home : "") + "/.config/" + kRelativePath;
}

RegistryFile::RegistryFile(std::string path) : path_(std::move(path)), file_(NewKeyFile()) {}

RegistryFile::~RegistryFile() = default;

RegistryFile::RegistryFile(RegistryFile&& other) noexcept
    : path_(std::move(other.path_)),
      file_(std::move(other.file_)),
      state_(other.state_),
      changed_(other.changed_) {}

RegistryFile& RegistryFile::operator=(RegistryFile&& other) noexcept {
  if (this != &other) {
    path_ = std::move(other.path_);
    file_ = std::move(other.file_);
    state_ = other.state_;
    changed_ = other.changed_;
  }
  return *this;
}

bool RegistryFile::Load(std::string& error) {
  file_ = NewKeyFile();
  changed_ = false;
  state_ = State::Failed;
  gchar* rawContents = nullptr;
  gsize length = 0;
  GError* raw = nullptr;
  if (!g_file_get_contents(path_.c_str(), &rawContents, &length, &raw)) {
    const ErrorPointer failure(raw);
    if (failure && g_error_matches(failure.get(), G_FILE_ERROR, G_FILE_ERROR_NOENT)) {
      state_ = State::Loaded;
      return true;
    }
    error =
        "Cannot read the registry " + path_ + ": " + (failure ? failure->message : "unknown error");
    return false;
  }
  const TextPointer contents(rawContents);
  // The key file itself would take bytes that are not UTF-8 in its values.
  if (!g_utf8_validate(contents.get(), static_cast<gssize>(length), nullptr)) {
    error = "Cannot read the registry " + path_ + ": it is not UTF-8 text";
    return false;
  }
  if (!g_key_file_load_from_data(file_.get(), contents.get(), length, G_KEY_FILE_KEEP_COMMENTS,
                                 &raw)) {
    const ErrorPointer failure(raw);
    file_ = NewKeyFile();
    error =
        "Cannot read the registry " + path_ + ": " + (failure ? failure->message : "unknown error");
    return false;
  }
  state_ = State::Loaded;
  return true;
}

bool RegistryFile::Save(std::string& error) {
  if (state_ != State::Loaded) {
    error = "The registry " + path_ + " was not read, so it is not written";
    return false;
  }
  const TextPointer directory(g_path_get_dirname(path_.c_str()));
  if (g_mkdir_with_parents(directory.get(), 0700) != 0) {
    error = "Cannot create the directory of the registry " + path_ + ": " + g_strerror(errno);
    return false;
  }
  GError* raw = nullptr;
  if (g_key_file_save_to_file(file_.get(), path_.c_str(), &raw)) {
    changed_ = false;
    return true;
  }
  const ErrorPointer failure(raw);
  error =
      "Cannot write the registry " + path_ + ": " + (failure ? failure->message : "unknown error");
  return false;
}

bool RegistryFile::HasKey(const std::string& key) const { return !FindGroup(key).empty(); }

std::vector<std::string> RegistryFile::GetKeys() const {
  return ToVector(g_key_file_get_groups(file_.get(), nullptr));
}

std::vector<std::string> RegistryFile::GetValueNames(const std::string& key) const {
  const std::string group = FindGroup(key);
  if (group.empty()) return std::vector<std::string>();
  return ToVector(g_key_file_get_keys(file_.get(), group.c_str(), nullptr, nullptr));
}

bool RegistryFile::GetValue(const std::string& key, const std::string& name,
                            std::string& value) const {
  const std::string group = FindGroup(key);
  if (group.empty()) return false;
  const std::string entry = FindEntry(group, name);
  if (entry.empty()) return false;
  const TextPointer text(g_key_file_get_string(file_.get(), group.c_str(), entry.c_str(), nullptr));
  if (!text) return false;
  value = text.get();
  return true;
}

bool RegistryFile::SetValue(const std::string& key, const std::string& name,
                            const std::string& value) {
  if (!IsStorableKeyName(key) || !IsStorableValueName(name) || !IsUtf8(value)) return false;
  std::string group = FindGroup(key);
  if (group.empty()) group = key;
  std::string entry = FindEntry(group, name);
  if (entry.empty()) entry = name;
  g_key_file_set_string(file_.get(), group.c_str(), entry.c_str(), value.c_str());
  changed_ = true;
  return true;
}

bool RegistryFile::SetValue(const std::string& key, const std::string& name, std::uint32_t value) {
  return SetValue(key, name, std::to_string(value));
}

void RegistryFile::DeleteKey(const std::string& key) {
  const std::string folded = Folded(key);
  if (folded.empty()) return;
  const std::string below = folded + "\\";
  for (const std::string& group : GetKeys()) {
    const std::string candidate = Folded(group);
    if (candidate == folded || candidate.compare(0, below.size(), below) == 0) {
      g_key_file_remove_group(file_.get(), group.c_str(), nullptr);
      changed_ = true;
    }
  }
}

std::string RegistryFile::FindGroup(const std::string& key) const {
  const std::string folded = Folded(key);
  if (folded.empty()) return std::string();
  for (const std::string& group : GetKeys()) {
    if (Folded(group) == folded) return group;
  }
  return std::string();
}

std::string RegistryFile::FindEntry(const std::string& group, const std::string& name) const {
  const std::string folded = Folded(name);
  if (folded.empty()) return std::string();
  for (const std::string& entry :
       ToVector(g_key_file_get_keys(file_.get(), group.c_str(), nullptr, nullptr))) {
    if (Folded(entry) == folded) return entry;
  }
  return std::string();
}

}  // namespace Control
}  // namespace Corvane
