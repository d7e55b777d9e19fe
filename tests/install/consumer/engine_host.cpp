// Loads the installed engine library through its exports, with the interface
// header alone, and catches a QuellorException by reference.
#include <dlfcn.h>

#include <cstdio>
#include <string>

#include "engine/Quellor.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  void* library = dlopen((std::string(argv[1]) + "/Quellor.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) return 2;
  auto get = reinterpret_cast<Corvane::Client::GetConnectorFunction>(dlsym(library, "GetConnector"));
  auto send = reinterpret_cast<Corvane::Client::QuellorMethods::SendData>(
      reinterpret_cast<Corvane::Client::GetMethodFunction>(dlsym(library, "get_SendData_method"))());
  Corvane::Client::Quellor* engine = get();
  try {
    send(engine, L"<a/>");
  } catch (const Corvane::Client::QuellorException& e) {
    std::printf("%d %s\n", e.GetCode(), e.what());
    return e.GetCode() == -110 ? 0 : 1;
  }
  return 1;
}
