# Installs the build into PREFIX and checks that the bridge, the emulated
# device and the manual page are there, and that the page renders.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
foreach(file bin/sorvanite bin/sorvanite-device share/man/man1/sorvanite.1)
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
find_program(MAN man)
if(MAN)
  execute_process(COMMAND "${MAN}" -l "${PREFIX}/share/man/man1/sorvanite.1"
                  RESULT_VARIABLE status OUTPUT_VARIABLE page ERROR_VARIABLE warnings)
  if(NOT status EQUAL 0 OR NOT page MATCHES "EXIT STATUS")
    message(FATAL_ERROR "the manual page does not render: ${warnings}")
  endif()
endif()
message(STATUS "installed: sorvanite, sorvanite-device, sorvanite(1)")
