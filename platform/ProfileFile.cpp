#include "platform/ProfileFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cwctype>
#include <fstream>
#include <iterator>
#include <map>
#include <utility>

#include "platform/TextConversion.h"

namespace Corvane {
namespace Platform {

// Identity of the file as last parsed; a difference means it must be re-read.
struct ProfileFile::FileStamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  std::int64_t modifiedSeconds = 0;
  long modifiedNanoseconds = 0;

  bool operator==(const FileStamp& other) const {
    return exists == other.exists && device == other.device && inode == other.inode &&
           size == other.size && modifiedSeconds == other.modifiedSeconds &&
           modifiedNanoseconds == other.modifiedNanoseconds;
  }
};

// Sections and keys by folded name; values as written, trimmed and unquoted.
struct ProfileFile::Contents {
  std::map<std::wstring, std::map<std::wstring, std::wstring>> sections;
};

namespace {

bool IsBlank(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f';
}

std::wstring Trim(const std::wstring& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Case folding for name comparison: ASCII directly, anything else through
// the C library.
std::wstring Fold(const std::wstring& name) {
  std::wstring folded = name;
  for (auto& c : folded) {
    if (c >= L'A' && c <= L'Z') {
      c = static_cast<wchar_t>(c - L'A' + L'a');
    } else if (c > 0x7F) {
      c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
    }
  }
  return folded;
}

std::wstring Unquote(std::wstring value) {
  if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

std::wstring CutToBuffer(const std::wstring& value) {
  return value.substr(0, std::min(value.size(), ProfileFile::kValueBufferSize - 1));
}

}  // namespace

ProfileFile::FileStamp ProfileFile::ReadStamp(const std::string& path) {
  FileStamp stamp;
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
    stamp.exists = true;
    stamp.device = status.st_dev;
    stamp.inode = status.st_ino;
    stamp.size = status.st_size;
    stamp.modifiedSeconds = status.st_mtim.tv_sec;
    stamp.modifiedNanoseconds = status.st_mtim.tv_nsec;
  }
  return stamp;
}

std::shared_ptr<const ProfileFile::Contents> ProfileFile::Parse(const std::string& path) {
  auto contents = std::make_shared<Contents>();
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  const std::wstring text = FromUtf8(bytes);

  std::map<std::wstring, std::wstring>* section = nullptr;
  std::size_t lineStart = 0;
  while (lineStart <= text.size()) {
    std::size_t lineEnd = text.find(L'\n', lineStart);
    if (lineEnd == std::wstring::npos) lineEnd = text.size();
    const std::wstring line = Trim(text.substr(lineStart, lineEnd - lineStart));
    lineStart = lineEnd + 1;

    if (line.empty() || line.front() == L';') continue;
    if (line.front() == L'[') {
      const std::size_t close = line.find(L']');
      const std::wstring name =
          Fold(Trim(line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1)));
      // Only the first section of a name is looked at.
      const auto inserted = contents->sections.emplace(name, std::map<std::wstring, std::wstring>());
      section = inserted.second ? &inserted.first->second : nullptr;
      continue;
    }
    if (!section) continue;
    const std::size_t equals = line.find(L'=');
    if (equals == std::wstring::npos) continue;
    const std::wstring key = Fold(Trim(line.substr(0, equals)));
    if (key.empty()) continue;
    // emplace keeps the first key of a name.
    section->emplace(key, Unquote(Trim(line.substr(equals + 1))));
  }
  return contents;
}

ProfileFile::ProfileFile(std::string path) : path_(std::move(path)), watch_(path_) {}

ProfileFile::~ProfileFile() = default;

std::shared_ptr<const ProfileFile::Contents> ProfileFile::Current() const {
  // Counted before reading: a change notified during the read moves the
  // count again, so the next lookup reads once more.
  const std::optional<std::uint64_t> generation = watch_.Generation();
  if (generation) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (contents_ && generation_ == generation) return contents_;
    }
    // A notified change is read even when the stamp stayed: two edits within
    // one tick of the file clock can leave the same times and size.
    const FileStamp stamp = ReadStamp(path_);
    auto contents = stamp.exists ? Parse(path_) : std::make_shared<const Contents>();
    std::lock_guard<std::mutex> lock(mutex_);
    // A lookup that counted later may have stored a newer reading meanwhile.
    if (!generation_ || *generation_ <= *generation) {
      contents_ = std::move(contents);
      stamp_ = std::make_unique<FileStamp>(stamp);
      generation_ = generation;
    }
    return contents_;
  }
  // Stamp before reading: a write that lands during the read changes the
  // stamp again, so the next lookup reads once more.
  FileStamp stamp = ReadStamp(path_);
  std::lock_guard<std::mutex> lock(mutex_);
  if (!contents_ || !stamp_ || !(*stamp_ == stamp)) {
    contents_ = stamp.exists ? Parse(path_) : std::make_shared<Contents>();
    stamp_ = std::make_unique<FileStamp>(stamp);
  }
  generation_.reset();
  return contents_;
}

const std::wstring* ProfileFile::Find(const Contents& contents, const std::wstring& section,
                                      const std::wstring& key) const {
  const auto foundSection = contents.sections.find(Fold(Trim(section)));
  if (foundSection == contents.sections.end()) return nullptr;
  const auto foundKey = foundSection->second.find(Fold(Trim(key)));
  if (foundKey == foundSection->second.end()) return nullptr;
  return &foundKey->second;
}

std::wstring ProfileFile::GetString(const std::wstring& section, const std::wstring& key,
                                    const std::wstring& defaultValue) const {
  const auto contents = Current();
  const std::wstring* value = Find(*contents, section, key);
  return CutToBuffer(value ? *value : defaultValue);
}

std::wstring ProfileFile::GetString(const std::wstring& section, const std::wstring& key,
                                    const std::wstring& fallbackKey,
                                    const std::wstring& defaultValue) const {
  return GetString(*Current(), section, key, fallbackKey, defaultValue);
}

std::wstring ProfileFile::GetString(const Contents& snapshot, const std::wstring& section,
                                    const std::wstring& key, const std::wstring& fallbackKey,
                                    const std::wstring& defaultValue) const {
  const std::wstring* value = Find(snapshot, section, key);
  if (!value) value = Find(snapshot, section, fallbackKey);
  return CutToBuffer(value ? *value : defaultValue);
}

int ProfileFile::GetInt(const std::wstring& section, const std::wstring& key,
                        int defaultValue) const {
  const auto contents = Current();
  const std::wstring* found = Find(*contents, section, key);
  if (!found || found->empty()) return defaultValue;
  const std::wstring value = CutToBuffer(*found);

  std::size_t i = 0;
  while (i < value.size() && IsBlank(value[i])) ++i;
  bool negative = false;
  if (i < value.size() && (value[i] == L'+' || value[i] == L'-')) {
    negative = value[i] == L'-';
    ++i;
  }
  std::uint32_t result = 0;
  for (; i < value.size() && value[i] >= L'0' && value[i] <= L'9'; ++i) {
    result = result * 10u + static_cast<std::uint32_t>(value[i] - L'0');
  }
  if (negative) result = 0u - result;
  return static_cast<int>(result);
}

}  // namespace Platform
}  // namespace Corvane
