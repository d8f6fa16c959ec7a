# Writes the build's own version string (the git commit the build was made from,
# "-dirty" when the tree had changes) into OUT as VELK_BUILD_ID, for the version
# resources. Run at every build; the file is rewritten only when the string changes,
# so an unchanged tree relinks nothing.
execute_process(COMMAND git -C "${SOURCE_DIR}" describe --always --dirty --abbrev=12
                OUTPUT_VARIABLE VELK_BUILD_ID OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE result ERROR_QUIET)
if(NOT result EQUAL 0 OR VELK_BUILD_ID STREQUAL "")
  set(VELK_BUILD_ID "unknown")
endif()
configure_file("${CMAKE_CURRENT_LIST_DIR}/velk_build_id.h.in" "${OUT}" @ONLY)
