# Run by CPack after it has installed the files into its staging folder and
# before it makes the package: gzips every manual page there (gzip -9n, as
# Debian keeps them: best compression, no name or time stamp inside).
find_program(GZIP_EXECUTABLE gzip REQUIRED)
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
list(FILTER staged INCLUDE REGEX "/man/man[1-9]/[^/]+\\.[1-9]$")
if(NOT staged)
  message(FATAL_ERROR "No manual pages found below ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
foreach(page IN LISTS staged)
  execute_process(COMMAND ${GZIP_EXECUTABLE} -9nf ${page} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${page}: ${result}")
  endif()
endforeach()
