# The cross-built third-party libraries live in a cache outside the checkout
# (scripts/bootstrap-deps.sh prints its path); ORBALA_DEPS points at it.
if(NOT ORBALA_DEPS)
  set(ORBALA_DEPS "$ENV{ORBALA_DEPS}")
endif()
if(NOT EXISTS "${ORBALA_DEPS}/.complete")
  message(FATAL_ERROR "ORBALA_DEPS='${ORBALA_DEPS}' is not a built dependency cache; run scripts/bootstrap-deps.sh")
endif()
set(ORBALA_DEPS "${ORBALA_DEPS}" CACHE PATH "cross-built dependency prefix" FORCE)

function(orbala_import name lib)
  add_library(${name} STATIC IMPORTED GLOBAL)
  set_target_properties(${name} PROPERTIES
    IMPORTED_LOCATION "${ORBALA_DEPS}/lib/${lib}"
    INTERFACE_INCLUDE_DIRECTORIES "${ORBALA_DEPS}/include")
endfunction()

orbala_import(dep_curl libcurl.a)
# System DLLs outside the known DLLs are linked through delay-import libraries (DelayLoad.cmake).
orbala_system_libs(_curl_system_libs ws2_32 crypt32 bcrypt secur32 wldap32 normaliz advapi32)
set_target_properties(dep_curl PROPERTIES
  INTERFACE_COMPILE_DEFINITIONS CURL_STATICLIB
  INTERFACE_LINK_LIBRARIES "z;${_curl_system_libs}")
orbala_import(dep_jsoncpp libjsoncpp.a)
orbala_import(dep_tinyxml2 libtinyxml2.a)
orbala_import(dep_minizip libminizip.a)
set_target_properties(dep_minizip PROPERTIES INTERFACE_LINK_LIBRARIES z)
orbala_import(dep_gtest libgtest.a)
orbala_import(dep_gmock libgmock.a)
set_target_properties(dep_gmock PROPERTIES INTERFACE_LINK_LIBRARIES dep_gtest)

# easylogging++ ships as one header and one source; it is built here with the program's flags.
add_library(easyloggingpp STATIC "${ORBALA_DEPS}/easyloggingpp/easylogging++.cc")
target_include_directories(easyloggingpp SYSTEM PUBLIC "${ORBALA_DEPS}/easyloggingpp")
target_compile_definitions(easyloggingpp
  PUBLIC ELPP_THREAD_SAFE ELPP_NO_DEFAULT_LOG_FILE ELPP_DISABLE_DEFAULT_CRASH_HANDLING ELPP_NO_CHECK_MACROS
  PRIVATE AUTO_INITIALIZE_EASYLOGGINGPP)
target_compile_options(easyloggingpp PRIVATE -w)
