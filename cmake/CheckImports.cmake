# Build-time check of setup.exe (cmake -P): its import table names only DLLs from ALLOWED
# (Windows' known DLLs, see DelayLoad.cmake); everything else must be delay-loaded.
#   cmake -DEXE=setup.exe -DOBJDUMP=...-objdump -DALLOWED="kernel32;user32;..." -P CheckImports.cmake
cmake_minimum_required(VERSION 3.20)
execute_process(COMMAND ${OBJDUMP} -p "${EXE}" OUTPUT_VARIABLE _dump RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "cannot read the import table of ${EXE}")
endif()
# Only the direct import table: objdump prints it between these headings.
string(FIND "${_dump}" "The Import Tables" _start)
if(_start EQUAL -1)
  message(FATAL_ERROR "${EXE} has no import table")
endif()
string(SUBSTRING "${_dump}" ${_start} -1 _imports)
string(REGEX REPLACE "\n(The Export Tables|PE File Base Relocations|The .rsrc Resource Directory|The Delay Import)[^\n]*.*" "" _imports "${_imports}")
string(REGEX MATCHALL "DLL Name: [^\n]+" _names "${_imports}")
set(_bad "")
foreach(_n ${_names})
  string(REGEX REPLACE "^DLL Name: " "" _dll "${_n}")
  string(STRIP "${_dll}" _dll)
  string(TOLOWER "${_dll}" _lower)
  string(REGEX REPLACE "\\.dll$" "" _lower "${_lower}")
  if(NOT _lower IN_LIST ALLOWED)
    list(APPEND _bad "${_dll}")
  endif()
endforeach()
if(_bad)
  list(JOIN _bad ", " _list)
  message(FATAL_ERROR "${EXE} imports ${_list} directly. Windows would look for these DLLs beside the "
    "program before the system folder: link them through their delay-import libraries "
    "(ORBALA_DELAY_DLLS in cmake/DelayLoad.cmake).")
endif()
