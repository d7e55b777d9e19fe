# Run by cmake --install: writes the GIR and the typelib with the installed
# control module's absolute path as their shared library, and installs the
# typelib (runtime) where GObject Introspection looks by default and the GIR
# (dev) with the system's GIRs.
set(libdir "${CORVANE_LIBDIR}")
if(NOT IS_ABSOLUTE "${libdir}")
  set(libdir "${CMAKE_INSTALL_PREFIX}/${libdir}")
endif()
set(module "${libdir}/corvane/CorvaneClient.so")

file(READ "${CORVANE_BUILD_GIR}" gir)
string(REGEX REPLACE "shared-library=\"[^\"]*\"" "shared-library=\"${module}\"" gir "${gir}")
file(MAKE_DIRECTORY "${CORVANE_STAGE}")
file(WRITE "${CORVANE_STAGE}/CorvaneClient-1.0.gir" "${gir}")
execute_process(COMMAND "${G_IR_COMPILER}" --shared-library=${module}
                        --output=${CORVANE_STAGE}/CorvaneClient-1.0.typelib
                        ${CORVANE_STAGE}/CorvaneClient-1.0.gir
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "g-ir-compiler failed on the installed GIR")
endif()

if(NOT CMAKE_INSTALL_COMPONENT OR CMAKE_INSTALL_COMPONENT STREQUAL "runtime")
  file(INSTALL DESTINATION "${libdir}/girepository-1.0" TYPE FILE
       FILES "${CORVANE_STAGE}/CorvaneClient-1.0.typelib")
endif()
if(NOT CMAKE_INSTALL_COMPONENT OR CMAKE_INSTALL_COMPONENT STREQUAL "dev")
  file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${CORVANE_GIR_DIR}" TYPE FILE
       FILES "${CORVANE_STAGE}/CorvaneClient-1.0.gir")
endif()
