#include "filestore/FileImpl.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <utility>

#include "filestore/FileName.h"
#include "filestore/TempDirectory.h"
#include "platform/FileSync.h"
#include "platform/ModuleDirectory.h"
#include "platform/TextConversion.h"
#include "platform/WideError.h"

namespace Corvane {
namespace File {

namespace fs = std::filesystem;
using Platform::WideError;
using Platform::FromUtf8;
using Platform::ToUtf8;

namespace {

// The system's text for `error`, or `fallback` when the library set none.
std::wstring ErrorText(int error, const wchar_t* fallback) {
  if (error == 0) return fallback;
  return FromUtf8(std::generic_category().message(error));
}

[[noreturn]] void ThrowWide(const std::exception& e) { throw WideError(FromUtf8(e.what())); }

void RequirePlainName(const std::wstring& name) {
  const std::wstring invalid = CheckFileName(name);
  if (!invalid.empty()) throw WideError(invalid);
}

}  // namespace

FileImpl::FileImpl() : FileImpl(TempDirectoryPath(Platform::EngineModuleDirectory())) {}

FileImpl::FileImpl(std::string tempDirectory) : temp_directory_(std::move(tempDirectory)) {}

FileImpl::FileImpl(std::string tempDirectory, std::string path)
    : temp_directory_(std::move(tempDirectory)), path_(std::move(path)) {}

FileImpl::~FileImpl() { Close(); }

void FileImpl::Open(const std::wstring& name) {
  RequirePlainName(name);
  Close();
  write_failure_.clear();
  path_ = temp_directory_ + "/" + ToUtf8(name);
  try {
    fs::create_directories(temp_directory_);
  } catch (const std::exception& e) {
    ThrowWide(e);
  }
  // A new file only, never through a link: a name planted in the temporary
  // directory (a link to a file elsewhere) is removed, not written through.
  constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  errno = 0;
  int descriptor = ::open(path_.c_str(), kFlags, 0666);
  if (descriptor < 0 && errno == EEXIST) {
    struct stat existing {};
    if (::lstat(path_.c_str(), &existing) == 0 &&
        (S_ISLNK(existing.st_mode) || S_ISREG(existing.st_mode))) {
      // A leftover file or a planted link: removed (the link itself, never
      // what it points to), then a new file in its place.
      if (::unlink(path_.c_str()) == 0) descriptor = ::open(path_.c_str(), kFlags, 0666);
    } else {
      // Anything else (a device) is written as it is, never followed.
      descriptor = ::open(path_.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    }
  }
  if (descriptor < 0) throw WideError(ErrorText(errno, L"The file could not be opened"));
  std::FILE* stream = ::fdopen(descriptor, "wb");
  if (!stream) {
    const int error = errno;
    ::close(descriptor);
    throw WideError(ErrorText(error, L"The file could not be opened"));
  }
  if (!buffer_) buffer_.reset(new char[kBufferSize]);
  // Should this fail the stream keeps its default buffer, which still works.
  std::setvbuf(stream, buffer_.get(), _IOFBF, kBufferSize);
  stream_ = stream;
  appended_ = 0;
  written_back_ = 0;
}

void FileImpl::Append(const std::string& bytes) { Append(bytes.data(), bytes.size()); }

void FileImpl::Append(const char* data, std::size_t size) {
  if (!write_failure_.empty()) throw WideError(write_failure_);
  if (!stream_) throw WideError(L"The file is not open");
  if (size == 0) return;
  errno = 0;
  if (std::fwrite(data, 1, size, stream_) != size) {
    write_failure_ = ErrorText(errno, L"The data could not be written");
    throw WideError(write_failure_);
  }
  appended_ += size;
  // The last buffer's worth may still sit in the stream: left for next time.
  const std::uint64_t written = appended_ > kBufferSize ? appended_ - kBufferSize : 0;
  if (written >= written_back_ + kWritebackBytes) {
    Platform::StartWriteback(::fileno(stream_), written_back_, written - written_back_);
    written_back_ = written;
  }
}

void FileImpl::Close() {
  if (!stream_) return;
  errno = 0;
  // fclose writes out the buffer; bytes it cannot write must not pass unseen.
  const bool written = std::fclose(stream_) == 0;
  const int error = errno;
  stream_ = nullptr;
  if (!written && write_failure_.empty()) {
    write_failure_ = ErrorText(error, L"The data could not be written");
  }
}

bool FileImpl::IsOpen() const { return stream_ != nullptr; }

std::wstring FileImpl::GetPath() const { return FromUtf8(path_); }

void FileImpl::MoveTo(const std::wstring& directory, const std::wstring& name) {
  RequirePlainName(name);
  if (directory.empty()) throw WideError(L"Invalid directory: \"\"");
  Close();
  if (!write_failure_.empty()) throw WideError(write_failure_);
  if (path_.empty()) throw WideError(L"The file has no path");
  const std::string target = ToUtf8(directory);
  const std::string destination = target + "/" + ToUtf8(name);
  try {
    fs::create_directories(target);
    // rename replaces an existing file at the destination in one step, so
    // no separate removal is needed and the destination is never missing.
    std::error_code error;
    fs::rename(path_, destination, error);
    if (error == std::errc::cross_device_link) {
      CopyAcross(target, destination);
    } else if (error) {
      throw fs::filesystem_error("cannot rename", path_, destination, error);
    }
  } catch (const WideError&) {
    throw;
  } catch (const std::exception& e) {
    ThrowWide(e);
  }
  path_ = destination;
}

void FileImpl::CopyAcross(const std::string& directory, const std::string& destination) {
  // A hidden name beside the destination, then one rename into place.
  const std::string partial = directory + "/." + ToUtf8(TemporaryFileName(L"incoming"));
  try {
    // Never written through a link that someone left under that name.
    std::error_code ignored;
    fs::remove(partial, ignored);
    fs::copy_file(path_, partial, fs::copy_options::none);
    fs::rename(partial, destination);
  } catch (...) {
    std::error_code ignored;
    fs::remove(partial, ignored);
    throw;
  }
  // The file has arrived; a copy left behind goes with the temporary
  // directory at the next start.
  std::error_code ignored;
  fs::remove(path_, ignored);
}

void FileImpl::Remove() {
  Close();
  if (path_.empty()) return;
  try {
    fs::remove(path_);
  } catch (const std::exception& e) {
    ThrowWide(e);
  }
}

std::uintmax_t FileImpl::ClearTempDirectory() { return RemoveDirectoryTree(temp_directory_); }

}  // namespace File
}  // namespace Corvane
