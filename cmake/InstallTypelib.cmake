# Run by cmake --install: writes the GIR and the typelib with the installed
# control module's absolute path as their shared library, and installs the
# typelib (typelib component) where GObject Introspection looks by default and the GIR
# (dev) with the system's GIRs.
set(corvane_libdir "${CORVANE_LIBDIR}")
if(NOT IS_ABSOLUTE "${corvane_libdir}")
  set(corvane_libdir "${CMAKE_INSTALL_PREFIX}/${corvane_libdir}")
endif()
set(corvane_module "${corvane_libdir}/corvane/CorvaneClient.so")

file(READ "${CORVANE_BUILD_GIR}" corvane_gir_text)
string(REGEX REPLACE "shared-library=\"[^\"]*\"" "shared-library=\"${corvane_module}\"" corvane_gir_text "${corvane_gir_text}")
file(MAKE_DIRECTORY "${CORVANE_STAGE}")
file(WRITE "${CORVANE_STAGE}/CorvaneClient-1.0.gir" "${corvane_gir_text}")
execute_process(COMMAND "${G_IR_COMPILER}" --shared-library=${corvane_module}
                        --output=${CORVANE_STAGE}/CorvaneClient-1.0.typelib
                        ${CORVANE_STAGE}/CorvaneClient-1.0.gir
                RESULT_VARIABLE corvane_result)
if(NOT corvane_result EQUAL 0)
  message(FATAL_ERROR "g-ir-compiler failed on the installed GIR")
endif()

if(NOT CMAKE_INSTALL_COMPONENT OR CMAKE_INSTALL_COMPONENT STREQUAL "typelib")
  file(INSTALL DESTINATION "${corvane_libdir}/girepository-1.0" TYPE FILE
       FILES "${CORVANE_STAGE}/CorvaneClient-1.0.typelib")
endif()
if(NOT CMAKE_INSTALL_COMPONENT OR CMAKE_INSTALL_COMPONENT STREQUAL "dev")
  file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${CORVANE_GIR_DIR}" TYPE FILE
       FILES "${CORVANE_STAGE}/CorvaneClient-1.0.gir")
endif()
