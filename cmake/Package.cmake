# Debian packages with CPack (./run package): "corvane" (the runtime
# component) and "corvane-dev" (the dev component). Configure with
# -DCMAKE_INSTALL_PREFIX=/usr so that GNUInstallDirs picks the multiarch
# library directory. Dependencies on shared libraries come from dpkg-shlibdeps.
set(CORVANE_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc)
string(TIMESTAMP CORVANE_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_SOURCE_DIR}/cmake/packaging/changelog.in
               ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  COMMAND gzip -9n -c ${CMAKE_BINARY_DIR}/packaging/changelog > ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog)
add_custom_target(corvane_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
set(CORVANE_GIR_PACKAGE gir1.2-corvaneclient-1.0)
foreach(component runtime typelib tools dev)
  if(component STREQUAL "runtime")
    set(package corvane)
  elseif(component STREQUAL "typelib")
    set(package ${CORVANE_GIR_PACKAGE})
  else()
    set(package corvane-${component})
  endif()
  install(FILES ${CMAKE_SOURCE_DIR}/cmake/packaging/copyright ${CMAKE_BINARY_DIR}/packaging/changelog.gz
          DESTINATION ${CORVANE_DOC_DIR}/${package} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime typelib tools dev)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR "Corvane")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Corvane developers <corvane@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/corvane")
set(exact "(= ${PROJECT_VERSION})")
# Lines after the first are the extended description; CPack indents them.
set(about "Corvane lets a desktop application find the vendor's own applications on
the local network (UDP multicast hails) and exchange XML and files with them
over TCP.
")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME corvane)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION net)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "LAN integration engine for desktop applications
${about}
This package holds the engine Quellor.so, the GObject control module
CorvaneClient.so, the dialog module CorvaneClientUi.so on GTK 4, the message
DTDs and sample logger.ini and engine.ini files.")

set(CPACK_DEBIAN_TYPELIB_PACKAGE_NAME ${CORVANE_GIR_PACKAGE})
set(CPACK_DEBIAN_TYPELIB_PACKAGE_SECTION introspection)
set(CPACK_DEBIAN_TYPELIB_PACKAGE_DEPENDS "corvane ${exact}, gir1.2-glib-2.0")
set(CPACK_COMPONENT_TYPELIB_DESCRIPTION "LAN integration engine for desktop applications (typelib)
${about}
This package holds the typelib of the control, with which Python (python3-gi)
and JavaScript (gjs) create it: gi.require_version with CorvaneClient 1.0.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME corvane-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION net)
# The host programs are Python over the control's typelib; the desktop host
# uses GTK 4 through its typelib.
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS
    "${CORVANE_GIR_PACKAGE} ${exact}, python3, python3-gi, gir1.2-gtk-4.0")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "LAN integration engine for desktop applications (tools)
${about}
This package holds the host program corvane (runs the engine from a terminal
and checks the network), the desktop host corvane-desktop (a GTK 4 window with
the connected applications, what they sent, and XML sent to them) and
corvane-peer, which plays a vendor application.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME corvane-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "corvane ${exact}, ${CORVANE_GIR_PACKAGE} ${exact}, libglib2.0-dev")
set(CPACK_DEBIAN_DEV_PACKAGE_SUGGESTS "libgtk-4-dev")
set(CPACK_COMPONENT_DEV_DESCRIPTION "LAN integration engine for desktop applications (development files)
${about}
This package holds the headers of the engine interface and of the control's
C API, the control's GIR, the CMake package (find_package with Corvane) and
the pkg-config files corvane-client and corvane-client-ui.")

include(CPack)
