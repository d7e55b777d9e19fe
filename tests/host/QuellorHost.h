#pragma once
// Loads a copy of Quellor.so the way a host does: dlopen by path, then only the
// exported C entry points. Each instance copies the library into its own
// directory, so its module directory (logger.ini, temp, files) is private.

#include <dlfcn.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "interface/Quellor.h"

namespace Corvane {
namespace Testing {

class QuellorHost {
 public:
  /// Copies build/bin/Quellor.so and its dtd directory into `moduleDirectory`
  /// and loads the library from there.
  explicit QuellorHost(const std::filesystem::path& moduleDirectory) {
    const auto library = moduleDirectory / "Quellor.so";
    const std::filesystem::path bin(CORVANE_BIN_DIR);
    std::filesystem::copy_file(bin / "Quellor.so", library,
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy(bin / "dtd", moduleDirectory / "dtd",
                          std::filesystem::copy_options::recursive |
                              std::filesystem::copy_options::overwrite_existing);
    handle_ = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw std::runtime_error(dlerror());
  }
  ~QuellorHost() { dlclose(handle_); }
  QuellorHost(const QuellorHost&) = delete;
  QuellorHost& operator=(const QuellorHost&) = delete;

  Client::Quellor* GetConnector() const {
    return reinterpret_cast<Client::GetConnectorFunction>(Symbol("GetConnector"))();
  }

  /// The address returned by get_<name>_method, as the function type `Method`.
  template <typename Method>
  Method Get(const std::string& name) const {
    auto getter = reinterpret_cast<Client::GetMethodFunction>(Symbol("get_" + name + "_method"));
    return reinterpret_cast<Method>(getter());
  }

  void* Symbol(const std::string& name) const {
    void* symbol = dlsym(handle_, name.c_str());
    if (!symbol) throw std::runtime_error("missing export " + name);
    return symbol;
  }

 private:
  void* handle_ = nullptr;
};

}  // namespace Testing
}  // namespace Corvane
