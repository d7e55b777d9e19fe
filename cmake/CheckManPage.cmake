# cmake -DGROFF=... -DSOURCE=page.1 -DOUTPUT=page.1.txt -P CheckManPage.cmake:
# formats a manual page with every groff warning on, fails on any, and keeps
# the text.
execute_process(COMMAND ${GROFF} -man -ww -Tutf8 -rLL=78n ${SOURCE}
                OUTPUT_FILE ${OUTPUT} ERROR_VARIABLE warnings RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT warnings STREQUAL "")
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "${SOURCE}: ${warnings}")
endif()
