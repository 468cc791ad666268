# Checks that a linked setup.exe is fit to ship (cmake -P), before it is signed. It refuses, naming
# every reason found, a program that:
# - was built for a test deployment (its version information marks it a special build);
# - holds the build's test certificate authority (TEST_AUTHORITY_PEM, when given: any line of its
#   body found in the program) or a test-only seam (DUILIB_SCALE);
# - names a loopback address in its texts (CheckRelease.cmake);
# - imports a DLL directly that is not one of Windows' known DLLs (CheckImports.cmake);
# - has no application manifest asking for elevation;
# - is not a 32-bit x86 program (what ships).
#   cmake -DEXE=setup.exe -DSETTINGS=<tree>/release-check-settings.cmake [-DTEST_AUTHORITY_PEM=ca.pem]
#         -P CheckReleaseProgram.cmake
# (SETTINGS, written by the build tree, gives OBJDUMP and ALLOWED, the known DLLs.)
cmake_minimum_required(VERSION 3.20)
if(SETTINGS)
  include("${SETTINGS}")
endif()
if(NOT EXISTS "${EXE}")
  message(FATAL_ERROR "release check: ${EXE} does not exist")
endif()
set(reasons "")
file(READ "${EXE}" hex HEX)

# Texts as the program stores them: hex of the narrow form and of the UTF-16LE form.
function(text_hex text narrow_out wide_out)
  string(HEX "${text}" narrow)
  string(REGEX REPLACE "(..)" "\\100" wide "${narrow}")
  set(${narrow_out} "${narrow}" PARENT_SCOPE)
  set(${wide_out} "${wide}" PARENT_SCOPE)
endfunction()

# The machine field of the PE header (its offset is at 0x3C): 0x014C, x86.
file(READ "${EXE}" lfanew OFFSET 60 LIMIT 4 HEX)
set(machine "")
if(lfanew MATCHES "^(..)(..)(..)(..)$")
  math(EXPR pe "0x${CMAKE_MATCH_4}${CMAKE_MATCH_3}${CMAKE_MATCH_2}${CMAKE_MATCH_1} + 4")
  file(READ "${EXE}" machine OFFSET ${pe} LIMIT 2 HEX)
endif()
if(NOT machine STREQUAL "4c01")
  string(REGEX REPLACE "^(..)(..)$" "0x\\2\\1" machine "${machine}")
  list(APPEND reasons "it is not a 32-bit x86 Windows program (machine ${machine})")
endif()

text_hex("SpecialBuild" _ "special_wide")
string(FIND "${hex}" "${special_wide}" at)
if(NOT at EQUAL -1)
  list(APPEND reasons "it is a test build (its version information names a special build)")
endif()

text_hex("DUILIB_SCALE" seam_narrow seam_wide)
string(FIND "${hex}" "${seam_narrow}" at_narrow)
string(FIND "${hex}" "${seam_wide}" at_wide)
if(NOT at_narrow EQUAL -1 OR NOT at_wide EQUAL -1)
  list(APPEND reasons "a test-only seam is compiled in (DUILIB_SCALE)")
endif()

if(TEST_AUTHORITY_PEM AND EXISTS "${TEST_AUTHORITY_PEM}")
  file(STRINGS "${TEST_AUTHORITY_PEM}" pem_lines)
  foreach(line ${pem_lines})
    if(line MATCHES "^-----" OR line STREQUAL "")
      continue()
    endif()
    text_hex("${line}" line_narrow line_wide)
    string(FIND "${hex}" "${line_narrow}" at_narrow)
    string(FIND "${hex}" "${line_wide}" at_wide)
    if(NOT at_narrow EQUAL -1 OR NOT at_wide EQUAL -1)
      list(APPEND reasons "it holds the build's test certificate authority (${TEST_AUTHORITY_PEM})")
      break()
    endif()
  endforeach()
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -DEXE=${EXE} -P ${CMAKE_CURRENT_LIST_DIR}/CheckRelease.cmake
  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
if(NOT rc EQUAL 0)
  list(APPEND reasons "it names a loopback address (localhost or 127.0.0.x) in its texts")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -DEXE=${EXE} -DOBJDUMP=${OBJDUMP} "-DALLOWED=${ALLOWED}"
  -P ${CMAKE_CURRENT_LIST_DIR}/CheckImports.cmake RESULT_VARIABLE rc ERROR_VARIABLE imports_error OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  # cmake wraps the message it prints: join its lines before looking for the names.
  string(REGEX REPLACE "\n *" " " imports_error "${imports_error}")
  string(REGEX MATCH "imports .+ directly|has no import table|cannot read the import table" what "${imports_error}")
  if(NOT what)
    set(what "its import table failed the check")
  endif()
  list(APPEND reasons "${what}: only Windows' known DLLs may be imported directly")
endif()

# The manifest: a resource of type 24 (RT_MANIFEST) at the top of the resource directory (objdump
# indents those entries by three spaces), and it asks for elevation.
execute_process(COMMAND ${OBJDUMP} -p "${EXE}" OUTPUT_VARIABLE dump RESULT_VARIABLE rc ERROR_QUIET)
text_hex("requireAdministrator" elevation_narrow _)
string(FIND "${hex}" "${elevation_narrow}" at)
if(NOT rc EQUAL 0)
  list(APPEND reasons "its headers cannot be read (${OBJDUMP} -p failed)")
elseif(NOT dump MATCHES "\n[0-9a-f]+   Entry: ID: 0x000018," OR at EQUAL -1)
  list(APPEND reasons "it has no application manifest asking for elevation")
endif()

if(reasons)
  list(JOIN reasons ";\n  " text)
  message(FATAL_ERROR "refused: ${EXE} is not a release:\n  ${text}")
endif()
message(STATUS "release check passed: ${EXE}")
