# Rules every source of the setup keeps (cmake -P, run by ctest as source_policy_test):
# - a unit that performs libcurl requests applies the TLS policy to them (TlsPolicy::Apply), so no
#   request goes out without certificate checks;
# - the same units give every request the system's proxy for its address (SystemProxy::Apply), so
#   no request ignores the proxy an office network lets the web out through;
# - DLLs are loaded through SystemLibrary::Load (from the system folder), never with LoadLibrary
#   and a bare name, which would look beside setup.exe first.
#   cmake -DSOURCE_DIR=... -P source_policy_test.cmake
cmake_minimum_required(VERSION 3.20)
set(failures 0)
file(GLOB_RECURSE sources "${SOURCE_DIR}/src/*.cpp" "${SOURCE_DIR}/src/*.h")
foreach(src ${sources})
  file(READ "${src}" text)
  file(RELATIVE_PATH name "${SOURCE_DIR}" "${src}")
  if(text MATCHES "curl_easy_perform" AND NOT text MATCHES "TlsPolicy::Apply")
    message(SEND_ERROR "${name} performs libcurl requests without TlsPolicy::Apply")
    math(EXPR failures "${failures} + 1")
  endif()
  if(text MATCHES "curl_easy_perform" AND NOT text MATCHES "SystemProxy::Apply")
    message(SEND_ERROR "${name} performs libcurl requests without SystemProxy::Apply")
    math(EXPR failures "${failures} + 1")
  endif()
  if(NOT name STREQUAL "src/base/SystemLibrary.cpp" AND text MATCHES "LoadLibrary(Ex)?[AW]?[ \t]*\\(")
    message(SEND_ERROR "${name} calls LoadLibrary; load DLLs with SystemLibrary::Load")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} source rule(s) broken")
endif()
