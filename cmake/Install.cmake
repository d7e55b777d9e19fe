# Installation, in four components: "runtime" (the modules and the support
# files), "typelib" (the typelib), "tools" (the tools, the desktop host and
# their manual pages) and
# "dev" (the headers, the GIR, the CMake package and the pkg-config files). Every path is relative to
# the prefix and follows GNUInstallDirs, so a prefix of /usr gives Debian's
# multiarch layout (lib/x86_64-linux-gnu) and /opt/corvane a plain lib/.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The engine, the control and the dialog module in one directory: the control
# loads the engine and the dialogs from its own directory.
set(CORVANE_INSTALL_MODULE_DIR ${CMAKE_INSTALL_LIBDIR}/corvane)
set(CORVANE_INSTALL_TYPELIB_DIR ${CMAKE_INSTALL_LIBDIR}/girepository-1.0)
set(CORVANE_INSTALL_GIR_DIR ${CMAKE_INSTALL_DATADIR}/gir-1.0)
set(CORVANE_INSTALL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Corvane)
set(CORVANE_INSTALL_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
set(CORVANE_INSTALL_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/corvane)

install(TARGETS Tarnlink CorvaneClient CorvaneClientUi
        LIBRARY DESTINATION ${CORVANE_INSTALL_MODULE_DIR} COMPONENT runtime)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/dtd DESTINATION ${CORVANE_INSTALL_MODULE_DIR}
        COMPONENT runtime)
install(FILES ${CMAKE_SOURCE_DIR}/tools/logger.ini DESTINATION ${CORVANE_INSTALL_MODULE_DIR}
        RENAME logger.ini.sample COMPONENT runtime)
install(FILES ${CMAKE_SOURCE_DIR}/tools/engine.ini DESTINATION ${CORVANE_INSTALL_MODULE_DIR}
        RENAME engine.ini.sample COMPONENT runtime)
install(TARGETS corvane-peer RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/tools/corvane ${CMAKE_SOURCE_DIR}/tools/corvane-desktop
        DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
# The desktop host in the desktop's menus, with the control's icon.
install(FILES ${CMAKE_SOURCE_DIR}/tools/corvane-desktop.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT tools)
install(FILES ${CMAKE_SOURCE_DIR}/control/ui/resources/about-icon.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps
        RENAME corvane-desktop.png COMPONENT tools)

# The typelib and the GIR name the installed control module by its absolute
# path, so that GObject Introspection loads it with no library path set. The
# prefix is known only when installing (cmake --install --prefix, DESTDIR), so
# both are written then, from the build's GIR.
install(CODE "
  set(CORVANE_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(CORVANE_GIR_DIR \"${CORVANE_INSTALL_GIR_DIR}\")
  set(CORVANE_BUILD_GIR \"${CORVANE_BIN_DIR}/CorvaneClient-1.0.gir\")
  set(CORVANE_STAGE \"${CMAKE_BINARY_DIR}/install-stage\")
  set(G_IR_COMPILER \"${G_IR_COMPILER}\")
  include(\"${CMAKE_SOURCE_DIR}/cmake/InstallTypelib.cmake\")" ALL_COMPONENTS)

# Manual pages, compressed as the system keeps them.
set(CORVANE_MAN_PAGES corvane corvane-peer corvane-desktop)
set(man_outputs)
foreach(page ${CORVANE_MAN_PAGES})
  set(source ${CMAKE_SOURCE_DIR}/docs/man/${page}.1)
  set(output ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9n -c ${source} > ${output}
    DEPENDS ${source} COMMENT "Compressing ${page}(1)")
  list(APPEND man_outputs ${output})
endforeach()
add_custom_target(corvane_man ALL DEPENDS ${man_outputs})
install(FILES ${man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)

# Headers.
install(FILES ${CMAKE_SOURCE_DIR}/interface/Quellor.h ${CMAKE_SOURCE_DIR}/interface/QuellorSettings.h
              ${CMAKE_SOURCE_DIR}/interface/QuellorObserver.h
        DESTINATION ${CORVANE_INSTALL_INCLUDE_DIR}/interface COMPONENT dev)
# The old include path still works for hosts written against it.
install(FILES ${CMAKE_SOURCE_DIR}/engine/Quellor.h
        DESTINATION ${CORVANE_INSTALL_INCLUDE_DIR}/engine COMPONENT dev)
install(FILES ${CMAKE_SOURCE_DIR}/control/CorvaneClientExport.h
              ${CMAKE_SOURCE_DIR}/control/CorvaneClientApplication.h
              ${CMAKE_SOURCE_DIR}/control/CorvaneClientSendOutcome.h
              ${CMAKE_SOURCE_DIR}/control/CorvaneClientCtrl.h
              ${CMAKE_SOURCE_DIR}/control/CorvaneClientModule.h
              ${CMAKE_SOURCE_DIR}/control/QuellorProxy.h
              ${CMAKE_SOURCE_DIR}/control/ObservableEngine.h
        DESTINATION ${CORVANE_INSTALL_INCLUDE_DIR}/control COMPONENT dev)
# The exported engine proxy's header needs the layout of its library handle.
install(FILES ${CMAKE_SOURCE_DIR}/platform/DynamicLibrary.h
        DESTINATION ${CORVANE_INSTALL_INCLUDE_DIR}/platform COMPONENT dev)
install(FILES ${CMAKE_SOURCE_DIR}/control/ui/CorvaneClientUi.h
              ${CMAKE_SOURCE_DIR}/control/ui/CorvaneClientPropPage.h
              ${CMAKE_SOURCE_DIR}/control/ui/CorvaneClientAboutBox.h
              ${CMAKE_SOURCE_DIR}/control/ui/CorvaneClientPicture.h
        DESTINATION ${CORVANE_INSTALL_INCLUDE_DIR}/control/ui COMPONENT dev)

# find_package(Corvane 2.0): the paths are computed from where the package
# file lies, whatever the depth of the library directory.
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/CorvaneConfig.cmake.in
  ${CMAKE_BINARY_DIR}/generated/CorvaneConfig.cmake
  INSTALL_DESTINATION ${CORVANE_INSTALL_CMAKE_DIR}
  PATH_VARS CORVANE_INSTALL_INCLUDE_DIR CORVANE_INSTALL_MODULE_DIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/generated/CorvaneConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/generated/CorvaneConfig.cmake
              ${CMAKE_BINARY_DIR}/generated/CorvaneConfigVersion.cmake
        DESTINATION ${CORVANE_INSTALL_CMAKE_DIR} COMPONENT dev)

# pkg-config: corvane-client (the control) and corvane-client-ui (the dialog
# module, with GTK 4). The prefix is found from the file's own directory.
file(RELATIVE_PATH CORVANE_PC_TO_PREFIX /prefix/${CORVANE_INSTALL_PKGCONFIG_DIR} /prefix)
string(REGEX REPLACE "/$" "" CORVANE_PC_TO_PREFIX "${CORVANE_PC_TO_PREFIX}")
foreach(pc corvane-client corvane-client-ui)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/${pc}.pc.in ${CMAKE_BINARY_DIR}/generated/${pc}.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/generated/${pc}.pc
          DESTINATION ${CORVANE_INSTALL_PKGCONFIG_DIR} COMPONENT dev)
endforeach()
