# Writes the header that names the build: the project's version and the commit
# the sources come from. Run at every build; the header is rewritten only when
# its text changes, so an unchanged commit rebuilds nothing.
execute_process(COMMAND git -C "${SOURCE}" describe --always --dirty --abbrev=10
                OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE failed ERROR_QUIET)
if(failed OR commit STREQUAL "")
  set(commit "unknown commit")
endif()
set(text "#pragma once\n// Written by the build (src/app/buildversion.cmake).\n"
         "#define WS_VERSION \"${VERSION}\"\n#define WS_COMMIT \"${commit}\"\n")
string(CONCAT text ${text})
set(old "")
if(EXISTS "${OUT}")
  file(READ "${OUT}" old)
endif()
if(NOT old STREQUAL text)
  file(WRITE "${OUT}" "${text}")
endif()
