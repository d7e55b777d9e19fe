#include "control/ProgIdActivator.h"

#include <gtest/gtest.h>

#include <string>

#include "control/CorvaneClientCtrl.h"
#include "support/TempDir.h"

namespace Corvane {
namespace Control {
namespace {

using Testing::TempDir;

class ProgIdActivatorTest : public ::testing::Test {
 protected:
  ~ProgIdActivatorTest() override {
    if (error_) g_error_free(error_);
  }

  std::string RegistryPath() const { return (scratch_ / "registry.ini").string(); }

  // A registry with ProgID "Test.Object" of class {T} in module `module`.
  void WriteRegistry(const std::string& module) const {
    scratch_.WriteFile(
        "registry.ini",
        "[ProgID\\Test.Object]\nCLSID={T}\n[CLSID\\{T}]\nInprocServer32=" + module + "\n");
  }

  // Creation of `progId` must fail with `code` and a message holding `text`.
  void ExpectFailure(const std::string& progId, CorvaneClientError code, const std::string& text) {
    if (error_) g_clear_error(&error_);
    GObject* object = ProgIdActivator(RegistryPath()).Create(progId, nullptr, &error_);
    EXPECT_EQ(object, nullptr);
    if (object) g_object_unref(object);
    ASSERT_NE(error_, nullptr);
    EXPECT_EQ(error_->domain, CORVANE_CLIENT_ERROR);
    EXPECT_EQ(error_->code, code) << error_->message;
    EXPECT_NE(std::string(error_->message).find(text), std::string::npos) << error_->message;
  }

  TempDir scratch_;
  GError* error_ = nullptr;
};

TEST_F(ProgIdActivatorTest, RegistryThatCannotBeReadIsARegistryError) {
  scratch_.WriteFile("registry.ini", "[broken\n");
  ExpectFailure("Test.Object", CORVANE_CLIENT_ERROR_REGISTRY, RegistryPath());
}

TEST_F(ProgIdActivatorTest, UnregisteredProgIdOrClassIsNotRegistered) {
  // No registry file at all.
  ExpectFailure("Test.Object", CORVANE_CLIENT_ERROR_NOT_REGISTERED, "\"Test.Object\"");
  WriteRegistry("/nowhere/module.so");
  ExpectFailure("Other.Object", CORVANE_CLIENT_ERROR_NOT_REGISTERED, "\"Other.Object\"");
  ExpectFailure("", CORVANE_CLIENT_ERROR_NOT_REGISTERED, RegistryPath());
  // The ProgID names a class that is not there, or one without a module.
  scratch_.WriteFile("registry.ini", "[ProgID\\Test.Object]\nCLSID={T}\n");
  ExpectFailure("Test.Object", CORVANE_CLIENT_ERROR_NOT_REGISTERED, "{T}");
  scratch_.WriteFile("registry.ini",
                     "[ProgID\\Test.Object]\nCLSID={T}\n[CLSID\\{T}]\nInprocServer32=\n");
  ExpectFailure("Test.Object", CORVANE_CLIENT_ERROR_NOT_REGISTERED, "{T}");
}

TEST_F(ProgIdActivatorTest, ModuleThatCannotBeLoadedIsAModuleError) {
  const std::string missing = (scratch_ / "missing.so").string();
  WriteRegistry(missing);
  ExpectFailure("Test.Object", CORVANE_CLIENT_ERROR_MODULE, missing);
  // The ProgID is matched without regard to case.
  ExpectFailure("TEST.OBJECT", CORVANE_CLIENT_ERROR_MODULE, missing);

  const std::string notALibrary = scratch_.WriteFile("text.so", "not a library").string();
  WriteRegistry(notALibrary);
  ExpectFailure("Test.Object", CORVANE_CLIENT_ERROR_MODULE, notALibrary);
}

TEST_F(ProgIdActivatorTest, LibraryWithoutClassObjectsIsAModuleError) {
  // The engine library is a loadable module that provides no classes.
  const std::string engine = CORVANE_BIN_DIR "/Quellor.so";
  WriteRegistry(engine);
  ExpectFailure("Test.Object", CORVANE_CLIENT_ERROR_MODULE, "DllGetClassObject");
}

}  // namespace
}  // namespace Control
}  // namespace Corvane
