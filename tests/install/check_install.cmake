# Installs the build into a scratch prefix and checks that the program and
# the manual's first page land where "Help Contents" looks for them
# (PREFIX/bin/sonalyx finds PREFIX/share/doc/sonalyx/manual/index.html),
# and the command-line measurer with its man page.
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix
                RESULT_VARIABLE installed OUTPUT_QUIET)
if(NOT installed EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${installed}")
endif()
foreach(file bin/sonalyx share/doc/sonalyx/manual/index.html share/doc/sonalyx/screenshots/waveform-dark.png
             bin/sonalyx-measure share/man/man1/sonalyx-measure.1.gz)
  if(NOT EXISTS ${WORK_DIR}/prefix/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
