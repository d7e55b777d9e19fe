#include "control/ModuleClass.h"

#include "control/CorvaneClientApplication.h"
#include "control/CorvaneClientCtrl.h"
#include "control/UiModule.h"

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

GObject* CreateControlFor(GObject*, GError**) { return CreateControl(); }

GObject* CreateApplicationFor(GObject*, GError**) { return CreateApplication(); }

// The property page lives in the user-interface module, loaded on demand as
// the dialogs load it; without a display it fails as they do.
GObject* CreatePropertyPageFor(GObject* subject, GError** error) {
  if (subject && !CORVANE_CLIENT_IS_CTRL(subject)) {
    g_set_error(error, CORVANE_CLIENT_ERROR, CORVANE_CLIENT_ERROR_FAILED,
                "A property page edits a CorvaneClientCtrl, not a %s", G_OBJECT_TYPE_NAME(subject));
    return nullptr;
  }
  GObject* control = subject ? G_OBJECT(g_object_ref(subject)) : CreateControl();
  GObject* page = UiModule::Instance().NewPropertyPage(control, error);
  g_object_unref(control);  // the page holds its own reference
  return page;
}

GObject* CreatePropertyPage() { return CreatePropertyPageFor(nullptr, nullptr); }

GType PropertyPageType() { return UiModule::Instance().PropertyPageType(); }

const CorvaneClassFactory kControlFactory = {CORVANE_CLIENT_CLSID_CTRL,
                                             "CORVANECLIENT.CorvaneClientCtrl.1",
                                             &corvane_client_ctrl_get_type, &CreateControl};

const CorvaneClassFactory kPropertyPageFactory = {
    CORVANE_CLIENT_CLSID_PROP_PAGE, "CORVANECLIENT.CorvaneClientPropPage.1", &PropertyPageType,
    &CreatePropertyPage};

const CorvaneClassFactory kApplicationFactory = {
    CORVANE_CLIENT_CLSID_APPLICATION, "CorvaneClient.Application",
    &corvane_client_application_get_type, &CreateApplication};

}  // namespace

const std::vector<ModuleClass>& ModuleClass::All() {
  static const std::vector<ModuleClass> classes = {
      {Kind::Control, CORVANE_CLIENT_CLSID_CTRL, "CORVANECLIENT.CorvaneClientCtrl.1",
       "CorvaneClient Control", "CorvaneClientCtrl", &kControlFactory, &CreateControlFor},
      {Kind::PropertyPage, CORVANE_CLIENT_CLSID_PROP_PAGE, "CORVANECLIENT.CorvaneClientPropPage.1",
       "CorvaneClient Property Page", "CorvaneClientPropPage", &kPropertyPageFactory,
       &CreatePropertyPageFor},
      // A creatable automation class is registered under its ProgID as its name.
      {Kind::Automation, CORVANE_CLIENT_CLSID_APPLICATION, "CorvaneClient.Application",
       "CorvaneClient.Application", "CorvaneClientApplication", &kApplicationFactory,
       &CreateApplicationFor},
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

GObject* ModuleClass::CreateInstance(const char* clsid, GObject* subject, GError** error) {
  const ModuleClass* moduleClass = Find(clsid);
  if (!moduleClass) {
    g_set_error(error, CORVANE_CLIENT_ERROR, CORVANE_CLIENT_ERROR_MODULE,
                "Class %s is not available in this module", clsid ? clsid : "(null)");
    return nullptr;
  }
  GObject* instance = moduleClass->createFor(subject, error);
  if (!instance && error && !*error) {
    g_set_error(error, CORVANE_CLIENT_ERROR, CORVANE_CLIENT_ERROR_MODULE,
                "The module made no object of class %s", clsid);
  }
  return instance;
}

}  // namespace Control
}  // namespace Corvane
