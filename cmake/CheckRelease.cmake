# Build-time check of a release setup.exe (cmake -P): no text of the program names this machine.
# The deployment's values and the skin were checked when they were generated; this looks at the
# linked program for the wide texts the setup's own code carries (libcurl's narrow "localhost"
# handling is no address of ours).
#   cmake -DEXE=setup.exe -P CheckRelease.cmake
cmake_minimum_required(VERSION 3.20)
file(READ "${EXE}" hex HEX)
# UTF-16LE "localhost", "LOCALHOST" and "127.0.0." (any 127.0.0.x).
foreach(pattern "6c006f00630061006c0068006f0073007400" "4c004f00430041004c0048004f0053005400"
                "3100320037002e0030002e0030002e00")
  string(FIND "${hex}" "${pattern}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "${EXE} is a release build but holds a loopback address in its texts")
  endif()
endforeach()
