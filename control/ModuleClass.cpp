#include "control/ModuleClass.h"

#include "control/CorvaneClientApplication.h"
#include "control/CorvaneClientCtrl.h"

namespace Corvane {
namespace Control {

namespace {

const char kClassFactoryName[] = "IClassFactory";

GObject* CreateControl() {
  return static_cast<GObject*>(g_object_new(corvane_client_ctrl_get_type(), nullptr));
}

GObject* CreateApplication() {
  return static_cast<GObject*>(g_object_new(corvane_client_application_get_type(), nullptr));
}

const CorvaneClassFactory kControlFactory = {CORVANE_CLIENT_CLSID_CTRL,
                                             "CORVANECLIENT.CorvaneClientCtrl.1",
                                             &corvane_client_ctrl_get_type, &CreateControl};

const CorvaneClassFactory kApplicationFactory = {
    CORVANE_CLIENT_CLSID_APPLICATION, "CorvaneClient.Application",
    &corvane_client_application_get_type, &CreateApplication};

}  // namespace

const std::vector<ModuleClass>& ModuleClass::All() {
  static const std::vector<ModuleClass> classes = {
      {Kind::Control, CORVANE_CLIENT_CLSID_CTRL, "CORVANECLIENT.CorvaneClientCtrl.1",
       "CorvaneClient Control", "CorvaneClientCtrl", &kControlFactory},
      {Kind::PropertyPage, CORVANE_CLIENT_CLSID_PROP_PAGE, "CORVANECLIENT.CorvaneClientPropPage.1",
       "CorvaneClient Property Page", "CorvaneClientPropPage", nullptr},
      // A creatable automation class is registered under its ProgID as its name.
      {Kind::Automation, CORVANE_CLIENT_CLSID_APPLICATION, "CorvaneClient.Application",
       "CorvaneClient.Application", "CorvaneClientApplication", &kApplicationFactory},
  };
  return classes;
}

const ModuleClass* ModuleClass::Find(const char* clsid) {
  if (!clsid) return nullptr;
  for (const ModuleClass& moduleClass : All()) {
    if (g_ascii_strcasecmp(moduleClass.clsid, clsid) == 0) return &moduleClass;
  }
  return nullptr;
}

std::int32_t ModuleClass::GetClassObject(const char* clsid, const char* iid, void** object) {
  if (!object) return CORVANE_CLIENT_E_POINTER;
  *object = nullptr;
  if (!clsid || !iid) return CORVANE_CLIENT_E_INVALIDARG;
  const ModuleClass* moduleClass = Find(clsid);
  if (!moduleClass || !moduleClass->factory) return CORVANE_CLIENT_CLASS_E_CLASSNOTAVAILABLE;
  if (g_strcmp0(iid, kClassFactoryName) != 0 &&
      g_ascii_strcasecmp(iid, CORVANE_CLIENT_IID_CLASS_FACTORY) != 0) {
    return CORVANE_CLIENT_E_NOINTERFACE;
  }
  *object = const_cast<CorvaneClassFactory*>(moduleClass->factory);
  return CORVANE_CLIENT_S_OK;
}

}  // namespace Control
}  // namespace Corvane
