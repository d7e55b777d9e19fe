#include "platform/DynamicLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace Corvane {
namespace Platform {

namespace {

// The loader's last error as one line.
DynamicLibrary::Failure LastFailure(int code) {
  DynamicLibrary::Failure failure;
  failure.code = code;
  const char* text = ::dlerror();
  failure.text = text ? text : "unknown error";
  std::string line;
  for (char c : failure.text) {
    if (c != '\r' && c != '\n') line += c;
  }
  failure.text = std::move(line);
  return failure;
}

}  // namespace

DynamicLibrary::DynamicLibrary(const std::string& path) : path_(path) { Open(); }

DynamicLibrary::DynamicLibrary(const DynamicLibrary& other)
    : path_(other.path_), failure_(other.failure_) {
  if (other.handle_) Open();
}

DynamicLibrary& DynamicLibrary::operator=(const DynamicLibrary& other) {
  if (this != &other) {
    DynamicLibrary copy(other);
    *this = std::move(copy);
  }
  return *this;
}

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : path_(std::move(other.path_)),
      handle_(std::exchange(other.handle_, nullptr)),
      failure_(std::move(other.failure_)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    Unload();
    path_ = std::move(other.path_);
    handle_ = std::exchange(other.handle_, nullptr);
    failure_ = std::move(other.failure_);
  }
  return *this;
}

DynamicLibrary::~DynamicLibrary() { Unload(); }

void DynamicLibrary::Open() {
  ::dlerror();
  errno = 0;
  handle_ = ::dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_) {
    failure_ = Failure();
    return;
  }
  // The loader gives no error number; a file that cannot be read says why.
  int code = errno;
  if (code == 0 && ::access(path_.c_str(), R_OK) != 0) code = errno;
  failure_ = LastFailure(code);
}

void* DynamicLibrary::Symbol(const std::string& name, Failure& failure) const {
  if (!handle_) {
    failure = failure_;
    return nullptr;
  }
  ::dlerror();
  errno = 0;
  void* address = ::dlsym(handle_, name.c_str());
  if (!address) failure = LastFailure(errno);
  return address;
}

void DynamicLibrary::Unload() {
  if (handle_) ::dlclose(std::exchange(handle_, nullptr));
}

}  // namespace Platform
}  // namespace Corvane
