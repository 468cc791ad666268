# Which Windows DLLs setup.exe may import directly, and delay-import libraries for the others.
#
# Windows resolves a program's direct imports before any of its code runs, and for a DLL that is
# not one of its "known DLLs" it looks in the program's own folder first. The setup runs elevated
# from wherever it was downloaded to, so a DLL of the right name dropped beside it would run with
# administrator rights. Direct imports are therefore limited to the DLLs that are known DLLs on
# every supported Windows (7 to 11); every other system DLL is delay-loaded, and the setup's
# delay-load hook loads it from the system folder (src/app/SafeDllLoading).
#
# Sets:
#   ORBALA_KNOWN_DLLS        the DLL names (lower case, no extension) that may be imported directly
#   ORBALA_DELAY_DLLS        the system libraries linked through delay-import libraries
#   orbala_delay_import_lib(DLL OUT [TAG OMIT])   OUT = the delay-import library of DLL (made on
#                                      first use); with TAG, a variant named after it that leaves out
#                                      the exports matching the regular expression OMIT. The
#                                      benchmark drivers use it for DLLs the setup imports directly but
#                                      their work does not need at start
#   orbala_system_libs(OUT names...)   OUT = the names, each delay-loaded one replaced by its
#                                      delay-import library
set(ORBALA_KNOWN_DLLS
  advapi32 clbcatq comdlg32 difxapi gdi32 imagehlp imm32 kernel32 msctf msvcrt normaliz nsi ole32
  oleaut32 psapi rpcrt4 sechost setupapi shell32 shlwapi user32 wldap32 ws2_32 ntdll)
set(ORBALA_DELAY_DLLS crypt32 bcrypt secur32 gdiplus msimg32 usp10 comctl32 version wintrust iphlpapi urlmon
  dbghelp oleacc)

string(REGEX REPLACE "-gcc(-posix)?$" "" _tool_prefix "${CMAKE_C_COMPILER}")
find_program(ORBALA_DLLTOOL NAMES ${_tool_prefix}-dlltool REQUIRED)
find_program(ORBALA_NM NAMES ${_tool_prefix}-nm REQUIRED)
set(_delay_dir "${CMAKE_BINARY_DIR}/delayimp")
file(MAKE_DIRECTORY "${_delay_dir}")
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(_kill_at "")
else()
  set(_kill_at "--kill-at")  # stdcall names: the DLL exports them without the @N suffix
endif()

function(orbala_delay_import_lib _dll out)
  set(_tag "${ARGV2}")
  set(_omit "${ARGV3}")
  set(_out "${_delay_dir}/lib${_dll}_delay${_tag}.a")
  set(${out} "${_out}" PARENT_SCOPE)
  if(EXISTS "${_out}")
    return()
  endif()
  find_library(_import_lib_${_dll} NAMES ${_dll} REQUIRED NO_CACHE)
  # The code exports of the regular import library: a thunk symbol and its __imp_ pointer.
  execute_process(COMMAND ${ORBALA_NM} -g --defined-only "${_import_lib_${_dll}}"
    OUTPUT_VARIABLE _symbols RESULT_VARIABLE _rc)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "cannot list ${_import_lib_${_dll}}")
  endif()
  string(REGEX MATCHALL "[0-9a-f]+ T [^\n]+" _thunks "${_symbols}")
  set(_def "LIBRARY ${_dll}.dll\nEXPORTS\n")
  foreach(_t ${_thunks})
    string(REGEX REPLACE "^[0-9a-f]+ T " "" _name "${_t}")
    if(_name MATCHES "^(_head|__lib|_?\\.)" OR (_omit AND _name MATCHES "${_omit}"))
      continue()
    endif()
    if(NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
      string(REGEX REPLACE "^_" "" _name "${_name}")  # i686 C names carry a leading underscore
    endif()
    string(APPEND _def "${_name}\n")
  endforeach()
  file(WRITE "${_delay_dir}/${_dll}${_tag}.def" "${_def}")
  execute_process(COMMAND ${ORBALA_DLLTOOL} ${_kill_at} -d "${_delay_dir}/${_dll}${_tag}.def" -D "${_dll}.dll"
      -y "${_out}.tmp"
    WORKING_DIRECTORY "${_delay_dir}" RESULT_VARIABLE _rc ERROR_VARIABLE _err)
  if(NOT _rc EQUAL 0)
    message(FATAL_ERROR "dlltool could not make a delay-import library for ${_dll}: ${_err}")
  endif()
  file(RENAME "${_out}.tmp" "${_out}")
endfunction()

foreach(_dll ${ORBALA_DELAY_DLLS})
  orbala_delay_import_lib(${_dll} _made)
endforeach()

function(orbala_system_libs out)
  set(result "")
  foreach(name ${ARGN})
    if(name IN_LIST ORBALA_DELAY_DLLS)
      list(APPEND result "${CMAKE_BINARY_DIR}/delayimp/lib${name}_delay.a")
    else()
      list(APPEND result ${name})
    endif()
  endforeach()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()
