# The reference (target docs, built by ./run docs): the control's GObject API
# from its GIR with gi-docgen, the engine's C++ interface with Doxygen, and a
# check of the manual pages; build/docs/index.html links them. Every warning
# fails the target, and so does an undocumented public symbol of the control
# that docs/api/undocumented.txt does not list.
set(CORVANE_DOCS_DIR ${CMAKE_BINARY_DIR}/docs)
find_program(GI_DOCGEN gi-docgen)
find_program(DOXYGEN doxygen)
find_program(GROFF groff)
# The system interpreter, as the script tests use.
find_program(CORVANE_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)

if(GI_DOCGEN AND DOXYGEN AND GROFF AND CORVANE_PYTHON)
  set(api_dir ${CMAKE_SOURCE_DIR}/docs/api)
  set(content_dir ${CORVANE_DOCS_DIR}/content)
  set(gir ${CORVANE_BIN_DIR}/CorvaneClient-1.0.gir)
  configure_file(${api_dir}/CorvaneClient.toml.in ${CORVANE_DOCS_DIR}/CorvaneClient.toml @ONLY)
  configure_file(${api_dir}/Doxyfile.in ${CORVANE_DOCS_DIR}/Doxyfile @ONLY)

  add_custom_command(OUTPUT ${CORVANE_DOCS_DIR}/CorvaneClient/index.html
    COMMAND ${CMAKE_COMMAND} -E remove_directory ${CORVANE_DOCS_DIR}/CorvaneClient
    COMMAND ${CMAKE_COMMAND} -E make_directory ${content_dir}
    COMMAND ${CORVANE_PYTHON} ${api_dir}/introduction.py ${CMAKE_SOURCE_DIR}/README.md
            ${content_dir}/introduction.md
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/docs/property-page.png
            ${CMAKE_SOURCE_DIR}/docs/about-box.png ${CMAKE_SOURCE_DIR}/docs/control-picture.png
            ${content_dir}
    COMMAND ${CORVANE_PYTHON} ${api_dir}/check_documented.py ${GI_DOCGEN}
            ${CORVANE_DOCS_DIR}/CorvaneClient.toml ${gir} ${api_dir}/undocumented.txt
    COMMAND ${GI_DOCGEN} generate --quiet --fatal-warnings
            --config ${CORVANE_DOCS_DIR}/CorvaneClient.toml --content-dir ${content_dir}
            --output-dir ${CORVANE_DOCS_DIR}/CorvaneClient --no-namespace-dir ${gir}
    DEPENDS ${gir} corvane_typelib ${CMAKE_SOURCE_DIR}/README.md ${api_dir}/CorvaneClient.toml.in
            ${api_dir}/introduction.py ${api_dir}/check_documented.py ${api_dir}/undocumented.txt
    COMMENT "Generating the control's reference (gi-docgen)")

  add_custom_command(OUTPUT ${CORVANE_DOCS_DIR}/engine/index.html
    COMMAND ${CMAKE_COMMAND} -E remove_directory ${CORVANE_DOCS_DIR}/engine-doxygen
    COMMAND ${DOXYGEN} ${CORVANE_DOCS_DIR}/Doxyfile
    COMMAND ${CMAKE_COMMAND} -E remove_directory ${CORVANE_DOCS_DIR}/engine
    COMMAND ${CMAKE_COMMAND} -E rename ${CORVANE_DOCS_DIR}/engine-doxygen/html ${CORVANE_DOCS_DIR}/engine
    COMMAND ${CMAKE_COMMAND} -E remove_directory ${CORVANE_DOCS_DIR}/engine-doxygen
    DEPENDS ${CMAKE_SOURCE_DIR}/interface/Quellor.h ${CMAKE_SOURCE_DIR}/interface/QuellorSettings.h ${CMAKE_SOURCE_DIR}/interface/QuellorObserver.h
            ${api_dir}/Doxyfile.in ${api_dir}/engine.md
    COMMENT "Generating the engine interface's reference (Doxygen)")

  # The manual pages: no groff warning, and HTML copies beside the references.
  set(man_checks)
  foreach(page ${CORVANE_MAN_PAGES})
    set(source ${CMAKE_SOURCE_DIR}/docs/man/${page}.1)
    set(output ${CORVANE_DOCS_DIR}/man/${page}.1.txt)
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CORVANE_DOCS_DIR}/man
      COMMAND ${CMAKE_COMMAND} -DGROFF=${GROFF} -DSOURCE=${source} -DOUTPUT=${output}
              -P ${CMAKE_SOURCE_DIR}/cmake/CheckManPage.cmake
      DEPENDS ${source} ${CMAKE_SOURCE_DIR}/cmake/CheckManPage.cmake
      COMMENT "Checking ${page}(1)")
    list(APPEND man_checks ${output})
  endforeach()

  configure_file(${api_dir}/index.html.in ${CORVANE_DOCS_DIR}/index.html @ONLY)
  add_custom_target(docs
    DEPENDS ${CORVANE_DOCS_DIR}/CorvaneClient/index.html ${CORVANE_DOCS_DIR}/engine/index.html
            ${man_checks})
else()
  add_custom_target(docs
    COMMAND ${CMAKE_COMMAND} -E echo "docs need gi-docgen, doxygen, groff and python3 (./run setup)"
    COMMAND ${CMAKE_COMMAND} -E false)
endif()
