# Prints the file version of a Windows program (cmake -P), as "-- A.B.C.D": read from the fixed
# part of its version information (VS_FIXEDFILEINFO, found by its signature 0xFEEF04BD).
#   cmake -DEXE=setup.exe -P ProgramVersion.cmake
cmake_minimum_required(VERSION 3.20)
file(READ "${EXE}" hex HEX)
# The fixed part follows the key "VS_VERSION_INFO" (UTF-16) of the version resource; looking for
# the signature after the key keeps bytes of the skin archive that happen to match out of it.
string(HEX "VS_VERSION_INFO" key)
string(REGEX REPLACE "(..)" "\\100" key "${key}")
string(FIND "${hex}" "${key}" key_at)
if(key_at EQUAL -1)
  message(FATAL_ERROR "${EXE} has no version information")
endif()
string(SUBSTRING "${hex}" ${key_at} 200 head)
string(FIND "${head}" "bd04effe" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${EXE} has no version information")
endif()
set(hex "${head}")
# After the signature: the structure's version (4 bytes), then the file version's high and low
# double words, each little-endian.
math(EXPR ms "${at} + 16")
math(EXPR ls "${at} + 24")
string(SUBSTRING "${hex}" ${ms} 8 ms_hex)
string(SUBSTRING "${hex}" ${ls} 8 ls_hex)
set(parts "")
foreach(word ${ms_hex} ${ls_hex})
  # Little-endian: the high half is in the last two bytes.
  string(SUBSTRING "${word}" 4 4 high)
  string(SUBSTRING "${word}" 0 4 low)
  foreach(half ${high} ${low})
    string(SUBSTRING "${half}" 2 2 a)
    string(SUBSTRING "${half}" 0 2 b)
    math(EXPR n "0x${a}${b}" OUTPUT_FORMAT DECIMAL)
    list(APPEND parts ${n})
  endforeach()
endforeach()
list(JOIN parts "." version)
message(STATUS "${version}")
