// The control module's C entry points, thin over the classes that do the
// work. No exception leaves them: a failure becomes a result code or a GError.

#include <exception>
#include <mutex>
#include <new>

#include "control/CorvaneClientApp.h"
#include "control/CorvaneClientCtrl.h"
#include "control/CorvaneClientModule.h"
#include "control/ModuleClass.h"
#include "control/ModuleRegistration.h"
#include "control/ProgIdActivator.h"
#include "control/RegistryFile.h"

namespace {

// Registration and unregistration in one process do not interleave their
// reading and writing of the registry file.
std::mutex& RegistrationMutex() {
  static std::mutex mutex;
  return mutex;
}

template <typename Action>
gint32 Guarded(Action action) {
  try {
    return action();
  } catch (const std::bad_alloc&) {
    return CORVANE_CLIENT_E_OUTOFMEMORY;
  } catch (...) {
    return CORVANE_CLIENT_E_UNEXPECTED;
  }
}

}  // namespace

gint32 DllRegisterServer(void) {
  return Guarded([] {
    std::lock_guard<std::mutex> lock(RegistrationMutex());
    return Corvane::Control::ModuleRegistration::ForThisModule().Register();
  });
}

gint32 DllUnregisterServer(void) {
  return Guarded([] {
    std::lock_guard<std::mutex> lock(RegistrationMutex());
    return Corvane::Control::ModuleRegistration::ForThisModule().Unregister();
  });
}

gint32 DllGetClassObject(const gchar* clsid, const gchar* iid, gpointer* object) {
  return Guarded([=] { return Corvane::Control::ModuleClass::GetClassObject(clsid, iid, object); });
}

gint32 DllCanUnloadNow(void) {
  return Guarded([] {
    return Corvane::Control::CorvaneClientApp::Instance().GetLockCount() == 0
               ? CORVANE_CLIENT_S_OK
               : CORVANE_CLIENT_S_FALSE;
  });
}

guint16 GetMajorVersion(void) {
  return Corvane::Control::CorvaneClientApp::Instance().GetMajorVersion();
}

guint16 GetMinorVersion(void) {
  return Corvane::Control::CorvaneClientApp::Instance().GetMinorVersion();
}

void corvane_client_get_version(guint16* major, guint16* minor) {
  if (major) *major = GetMajorVersion();
  if (minor) *minor = GetMinorVersion();
}

GObject* corvane_client_module_create_instance(const gchar* clsid, GObject* subject,
                                               GError** error) {
  g_return_val_if_fail(clsid != nullptr, nullptr);
  g_return_val_if_fail(subject == nullptr || G_IS_OBJECT(subject), nullptr);
  try {
    return Corvane::Control::ModuleClass::CreateInstance(clsid, subject, error);
  } catch (const std::exception& e) {
    g_set_error(error, CORVANE_CLIENT_ERROR, CORVANE_CLIENT_ERROR_FAILED,
                "Cannot create an object of class %s: %s", clsid, e.what());
  } catch (...) {
    g_set_error(error, CORVANE_CLIENT_ERROR, CORVANE_CLIENT_ERROR_FAILED,
                "Cannot create an object of class %s", clsid);
  }
  return nullptr;
}

GObject* corvane_client_create_object(const gchar* prog_id, GError** error) {
  return corvane_client_create_object_for(prog_id, nullptr, error);
}

GObject* corvane_client_create_object_for(const gchar* prog_id, GObject* subject,
                                          GError** error) {
  g_return_val_if_fail(prog_id != nullptr, nullptr);
  g_return_val_if_fail(subject == nullptr || G_IS_OBJECT(subject), nullptr);
  g_return_val_if_fail(error == nullptr || *error == nullptr, nullptr);
  try {
    return Corvane::Control::ProgIdActivator(Corvane::Control::RegistryFile::DefaultPath())
        .Create(prog_id, subject, error);
  } catch (const std::exception& e) {
    g_set_error(error, CORVANE_CLIENT_ERROR, CORVANE_CLIENT_ERROR_FAILED,
                "Cannot create an object of ProgID \"%s\": %s", prog_id, e.what());
  } catch (...) {
    g_set_error(error, CORVANE_CLIENT_ERROR, CORVANE_CLIENT_ERROR_FAILED,
                "Cannot create an object of ProgID \"%s\"", prog_id);
  }
  return nullptr;
}
