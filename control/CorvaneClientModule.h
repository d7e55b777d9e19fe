#pragma once
/* The control module's entry points: registration in the registry file,
 * class objects, unloading, and creation of a registered class by ProgID. */

#include <glib-object.h>

#include "control/CorvaneClientExport.h"

G_BEGIN_DECLS

/**
 * corvane_client_create_object:
 * @prog_id: the ProgID of a registered class, e.g. "CorvaneClient.Application"
 *   or "CORVANECLIENT.CorvaneClientCtrl.1"
 * @error: a #GError, or %NULL
 *
 * Creates an object of the class registered under @prog_id (for a property
 * page: with a new control; see corvane_client_create_object_for()): the
 * registry
 * file (the file named by the environment variable CORVANE_REGISTRY, else
 * corvane/registry.ini in the user's configuration directory) gives the
 * class and the module that implements it; the module is loaded and stays
 * loaded for the rest of the process. ProgIDs are matched without regard to
 * case.
 *
 * Fails with %CORVANE_CLIENT_ERROR_REGISTRY when the registry file cannot be
 * read, %CORVANE_CLIENT_ERROR_NOT_REGISTERED when @prog_id or its class is not
 * registered, and %CORVANE_CLIENT_ERROR_MODULE when the module cannot be
 * loaded or does not provide the class.
 *
 * Returns: (transfer full): the new object, or %NULL on failure
 */
CORVANE_CLIENT_API
GObject *corvane_client_create_object(const gchar *prog_id, GError **error);

/**
 * corvane_client_get_version:
 * @major: (out) (optional): the module's major version
 * @minor: (out) (optional): the module's minor version
 *
 * The control module's version pair, read from the module's file version
 * (2.0 for file version 2.0.9.0). It is the type library's version, and its
 * word (major in the high 16 bits) heads every saved property set. The same
 * as GetMajorVersion() and GetMinorVersion().
 */
CORVANE_CLIENT_API
void corvane_client_get_version(guint16 *major, guint16 *minor);

/**
 * corvane_client_create_object_for:
 * @prog_id: the ProgID of a registered class
 * @subject: (nullable): what the object is made for: the control a property
 *   page ("CORVANECLIENT.CorvaneClientPropPage.1") edits; %NULL gives the
 *   page a new control of its own. Classes that need no subject ignore it.
 * @error: a #GError, or %NULL
 *
 * As corvane_client_create_object(), for @subject. The property page lives
 * in the user-interface module CorvaneClientUi.so beside the control module,
 * loaded on the first request as the dialogs load it (see
 * corvane_client_ctrl_show_property_page()); the page is a #GtkWidget the
 * host places in its own window. Without a display its creation fails with
 * %CORVANE_CLIENT_ERROR_NO_DISPLAY, as the dialogs do.
 *
 * Returns: (transfer full): the new object, or %NULL on failure
 */
CORVANE_CLIENT_API
GObject *corvane_client_create_object_for(const gchar *prog_id, GObject *subject, GError **error);

#ifndef __GI_SCANNER__

/**
 * GetMajorVersion:
 *
 * The major half of the module's version pair (see
 * corvane_client_get_version()).
 *
 * Returns: the major version
 */
CORVANE_CLIENT_API
guint16 GetMajorVersion(void);

/**
 * GetMinorVersion:
 *
 * The minor half of the module's version pair (see
 * corvane_client_get_version()).
 *
 * Returns: the minor version
 */
CORVANE_CLIENT_API
guint16 GetMinorVersion(void);

/**
 * CORVANE_CLIENT_S_OK:
 *
 * Success.
 */
#define CORVANE_CLIENT_S_OK ((gint32) 0)
/**
 * CORVANE_CLIENT_S_FALSE:
 *
 * Success with a negative answer: the module is still in use.
 */
#define CORVANE_CLIENT_S_FALSE ((gint32) 1)
/**
 * CORVANE_CLIENT_E_NOINTERFACE:
 *
 * The class object does not provide the requested interface.
 */
#define CORVANE_CLIENT_E_NOINTERFACE ((gint32) 0x80004002u)
/**
 * CORVANE_CLIENT_E_POINTER:
 *
 * A required out pointer is %NULL.
 */
#define CORVANE_CLIENT_E_POINTER ((gint32) 0x80004003u)
/**
 * CORVANE_CLIENT_E_UNEXPECTED:
 *
 * An unexpected failure inside the module.
 */
#define CORVANE_CLIENT_E_UNEXPECTED ((gint32) 0x8000FFFFu)
/**
 * CORVANE_CLIENT_E_OUTOFMEMORY:
 *
 * Memory ran out.
 */
#define CORVANE_CLIENT_E_OUTOFMEMORY ((gint32) 0x8007000Eu)
/**
 * CORVANE_CLIENT_E_INVALIDARG:
 *
 * A required argument is %NULL.
 */
#define CORVANE_CLIENT_E_INVALIDARG ((gint32) 0x80070057u)
/**
 * CORVANE_CLIENT_CLASS_E_CLASSNOTAVAILABLE:
 *
 * The module provides no class of that identifier.
 */
#define CORVANE_CLIENT_CLASS_E_CLASSNOTAVAILABLE ((gint32) 0x80040111u)
/**
 * CORVANE_CLIENT_SELFREG_E_TYPELIB:
 *
 * The type library could not be registered or unregistered.
 */
#define CORVANE_CLIENT_SELFREG_E_TYPELIB ((gint32) 0x80040200u)
/**
 * CORVANE_CLIENT_SELFREG_E_CLASS:
 *
 * A class could not be registered or unregistered.
 */
#define CORVANE_CLIENT_SELFREG_E_CLASS ((gint32) 0x80040201u)

/**
 * CORVANE_CLIENT_LIBID:
 *
 * Identifier of the module's type library.
 */
#define CORVANE_CLIENT_LIBID "{8F3C61D2-4B7A-4E05-A1D9-2C6E5B0F7A41}"
/**
 * CORVANE_CLIENT_CLSID_CTRL:
 *
 * Class identifier of the control, ProgID "CORVANECLIENT.CorvaneClientCtrl.1".
 */
#define CORVANE_CLIENT_CLSID_CTRL "{8F3C61D3-4B7A-4E05-A1D9-2C6E5B0F7A41}"
/**
 * CORVANE_CLIENT_CLSID_PROP_PAGE:
 *
 * Class identifier of the control's property page, ProgID
 * "CORVANECLIENT.CorvaneClientPropPage.1". The control module registers it
 * and hands out its class object; the page itself comes from the
 * user-interface module, loaded when the first page is created.
 */
#define CORVANE_CLIENT_CLSID_PROP_PAGE "{8F3C61D4-4B7A-4E05-A1D9-2C6E5B0F7A41}"
/**
 * CORVANE_CLIENT_CLSID_APPLICATION:
 *
 * Class identifier of the application record, ProgID
 * "CorvaneClient.Application".
 */
#define CORVANE_CLIENT_CLSID_APPLICATION "{8F3C61D5-4B7A-4E05-A1D9-2C6E5B0F7A41}"
/**
 * CORVANE_CLIENT_IID_CLASS_FACTORY:
 *
 * The interface identifier of a class object; DllGetClassObject() also
 * accepts the name "IClassFactory".
 */
#define CORVANE_CLIENT_IID_CLASS_FACTORY "{00000001-0000-0000-C000-000000000046}"

/**
 * CorvaneClassFactory:
 * @clsid: the class identifier
 * @prog_id: the class's ProgID
 * @get_type: returns the #GType of the class's instances
 * @create_instance: creates an instance (transfer full), or returns %NULL
 *
 * The class object of one class of the module. It belongs to the module and
 * stays valid while the module is loaded; it is never freed by the caller.
 */
typedef struct _CorvaneClassFactory CorvaneClassFactory;
struct _CorvaneClassFactory {
  const gchar *clsid;
  const gchar *prog_id;
  GType (*get_type)(void);
  GObject *(*create_instance)(void);
};

/**
 * DllRegisterServer:
 *
 * Registers the module in the registry file (see
 * corvane_client_create_object()): the type library CorvaneClient-1.0.typelib
 * beside the module, then the event source of the logging configuration
 * beside the module, the control, its property page and the application
 * class with their ProgIDs.
 *
 * Returns: %CORVANE_CLIENT_S_OK; %CORVANE_CLIENT_SELFREG_E_TYPELIB when the
 *   type library file is missing or the registry file cannot be read or
 *   written, and nothing is registered; %CORVANE_CLIENT_SELFREG_E_CLASS when
 *   the classes could not be registered
 */
CORVANE_CLIENT_API
gint32 DllRegisterServer(void);

/**
 * DllUnregisterServer:
 *
 * Removes what DllRegisterServer() wrote: first the type library of the
 * module's version pair, then the classes and the event source. Class entries
 * already missing are no failure.
 *
 * Returns: %CORVANE_CLIENT_S_OK; %CORVANE_CLIENT_SELFREG_E_TYPELIB when the
 *   type library cannot be unregistered (the registry file cannot be read or
 *   written, or holds no type library of this version: nothing is
 *   registered, or it was unregistered already), and nothing is removed;
 *   %CORVANE_CLIENT_SELFREG_E_CLASS when the classes could not be
 *   unregistered
 */
CORVANE_CLIENT_API
gint32 DllUnregisterServer(void);

/**
 * DllGetClassObject:
 * @clsid: the class identifier in braces, matched without regard to case
 * @iid: "IClassFactory" or %CORVANE_CLIENT_IID_CLASS_FACTORY
 * @object: receives the #CorvaneClassFactory, or %NULL on failure
 *
 * Hands out the class object of one of the module's classes.
 *
 * Returns: %CORVANE_CLIENT_S_OK; %CORVANE_CLIENT_E_POINTER when @object is
 *   %NULL; %CORVANE_CLIENT_E_INVALIDARG when @clsid or @iid is %NULL;
 *   %CORVANE_CLIENT_CLASS_E_CLASSNOTAVAILABLE for a class the module does not
 *   implement; %CORVANE_CLIENT_E_NOINTERFACE for another interface
 */
CORVANE_CLIENT_API
gint32 DllGetClassObject(const gchar *clsid, const gchar *iid, gpointer *object);

/**
 * corvane_client_module_create_instance:
 * @clsid: the class identifier in braces, matched without regard to case
 * @subject: (nullable): see corvane_client_create_object_for()
 * @error: a #GError, or %NULL
 *
 * Creates an instance of one of the module's classes for @subject, with the
 * reason when it cannot (a class object's create_instance() has neither).
 * corvane_client_create_object_for() calls it in the registered module.
 *
 * Returns: (transfer full): the instance, or %NULL with @error set
 */
CORVANE_CLIENT_API
GObject *corvane_client_module_create_instance(const gchar *clsid, GObject *subject,
                                               GError **error);

/**
 * DllCanUnloadNow:
 *
 * Whether the module may be unloaded: no control or application object of
 * it is alive.
 *
 * Returns: %CORVANE_CLIENT_S_OK when it may, %CORVANE_CLIENT_S_FALSE when not
 */
CORVANE_CLIENT_API
gint32 DllCanUnloadNow(void);

#endif /* __GI_SCANNER__ */

G_END_DECLS
