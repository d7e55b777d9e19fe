// Native code on the control module's exported engine proxy, with the
// installed headers alone: the engine beside the module answers through it,
// and a missing engine is the proxy's -999.
#include <cstdio>
#include <string>

#include "control/QuellorProxy.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string directory = argv[1];
  Corvane::Control::QuellorProxy proxy(std::wstring(directory.begin(), directory.end()) +
                                       L"/Quellor.so");
  int code = 0;
  try {
    proxy.SendData(L"<a/>");
  } catch (const Corvane::Client::QuellorException& e) {
    code = e.GetCode();
  }
  Corvane::Control::QuellorProxy missing(L"/nonexistent/Quellor.so");
  Corvane::Control::QuellorProxy copy(missing);
  int missingCode = 0;
  try {
    copy.IsStarted();
  } catch (const Corvane::Client::QuellorException& e) {
    missingCode = e.GetCode();
  }
  std::printf("proxy %d %d\n", code, missingCode);
  return code == -110 && missingCode == Corvane::Control::QuellorProxy::kLoadFailure ? 0 : 1;
}
