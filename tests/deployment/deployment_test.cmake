# The deployments' generated inputs (cmake -P, run by ctest as deployment_test):
# - every deployment under deployment/ generates its header and skin configuration;
# - no release deployment leaves a loopback address in what it generates, and the sources name
#   none in a string;
# - the build refuses a release that points at this machine (in a value, scrambled or not, or in
#   the skin's template), one that trusts the test authority, and an unknown @NAME@.
#   cmake -DSOURCE_DIR=... -DWORK_DIR=... [-DAUTHORITY_PEM=...] [-DLOCAL_SETUP_EXE=...] -P deployment_test.cmake
# (LOCAL_SETUP_EXE: a setup.exe of a local build, on which the release check of the linked program
# must fail.)
# With -DGENERATE=<deployment dir> [-DTEMPLATE=...] it only generates (the refusal cases run so).
cmake_minimum_required(VERSION 3.20)
include("${SOURCE_DIR}/cmake/DeploymentGenerate.cmake")

if(GENERATE)
  if(NOT TEMPLATE)
    set(TEMPLATE "${SOURCE_DIR}/skin/configure/configure.xml")
  endif()
  set(args "")
  if(AUTHORITY_PEM)
    set(args AUTHORITY_PEM "${AUTHORITY_PEM}")
  endif()
  file(MAKE_DIRECTORY "${WORK_DIR}")
  orbala_generate_deployment("${GENERATE}" "${TEMPLATE}" "${WORK_DIR}" ${args})
  return()
endif()

set(failures 0)
macro(fail text)
  message(SEND_ERROR "${text}")
  math(EXPR failures "${failures} + 1")
endmacro()

# A PEM for deployments that trust the test authority (its content does not matter here).
if(NOT AUTHORITY_PEM OR NOT EXISTS "${AUTHORITY_PEM}")
  set(AUTHORITY_PEM "${WORK_DIR}/dummy-ca.pem")
  file(WRITE "${AUTHORITY_PEM}" "-----BEGIN CERTIFICATE-----\n-----END CERTIFICATE-----\n")
endif()

# The loopback test itself.
foreach(case "127.0.0.1:47443" "https://127.5.6.7/x" "LOCALHOST" "http://[::1]:80/" "0.0.0.0:1" "::1")
  orbala_names_loopback("${case}" loop)
  if(NOT loop)
    fail("${case} was not taken for a loopback address")
  endif()
endforeach()
foreach(case "config.orbala.example" "https://10.127.0.0.1.example/" "www.google-analytics.com" "2127.0.0.1"
             "https://download.orbala.example/lumeno/")
  orbala_names_loopback("${case}" loop)
  if(loop)
    fail("${case} was taken for a loopback address")
  endif()
endforeach()

file(GLOB deployments LIST_DIRECTORIES true "${SOURCE_DIR}/deployment/*")
set(releases 0)
foreach(dep ${deployments})
  if(NOT IS_DIRECTORY "${dep}")
    continue()
  endif()
  get_filename_component(name "${dep}" NAME)
  set(out "${WORK_DIR}/${name}")
  file(REMOVE_RECURSE "${out}")
  execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${SOURCE_DIR} -DWORK_DIR=${out} -DGENERATE=${dep}
                          -DAUTHORITY_PEM=${AUTHORITY_PEM} -P ${CMAKE_CURRENT_LIST_FILE}
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    fail("deployment ${name} does not generate: ${err}")
    continue()
  endif()
  file(STRINGS "${dep}/values.txt" kind REGEX "^[ \t]*BUILD_KIND[ \t]*=[ \t]*release")
  if(NOT kind)
    continue()
  endif()
  math(EXPR releases "${releases} + 1")
  foreach(generated deployment_values.h skin/configure/configure.xml)
    file(READ "${out}/${generated}" text)
    orbala_names_loopback("${text}" loop)
    if(loop)
      fail("the release deployment ${name} leaves a loopback address in ${generated}")
    endif()
  endforeach()
  file(READ "${out}/deployment_values.h" header)
  if(NOT header MATCHES "kTestBuild = false" OR NOT header MATCHES "kTrustTestAuthority = false")
    fail("the release deployment ${name} is not generated as a release")
  endif()
endforeach()
if(releases EQUAL 0)
  fail("no release deployment under deployment/")
endif()

# Loopback addresses written into the sources' strings would ship in every deployment. A line that
# only recognises a loopback name (the proxy's bypass rules) says so with "recognises loopback".
file(GLOB_RECURSE sources "${SOURCE_DIR}/src/*.cpp" "${SOURCE_DIR}/src/*.h")
foreach(src ${sources})
  file(STRINGS "${src}" hits REGEX "\"[^\"]*(127\\.0\\.0\\.1|[Ll]ocalhost)[^\"]*\"")
  list(FILTER hits EXCLUDE REGEX "// recognises loopback: contacts nothing$")
  if(hits)
    fail("${src} names a loopback address: ${hits}")
  endif()
endforeach()

# What the build refuses.
set(fixtures "${CMAKE_CURRENT_LIST_DIR}/fixtures")
foreach(case
    "release-loopback-value|EXCEPTION_REPORT_URL = https://\\[::1\\]:47443/api/exception/send points at this machine"
    "release-loopback-skin|the skin's configuration points at this machine"
    "release-test-authority|a release build trusts the Windows certificate store only"
    "unknown-placeholder|names @EXTRA_BASE_URL@, which deployment/unknown-placeholder does not give")
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 fixture)
  list(GET parts 1 expected)
  set(template "${SOURCE_DIR}/skin/configure/configure.xml")
  if(EXISTS "${fixtures}/${fixture}/configure.xml")
    set(template "${fixtures}/${fixture}/configure.xml")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${SOURCE_DIR} -DWORK_DIR=${WORK_DIR}/${fixture}
                          -DGENERATE=${fixtures}/${fixture} -DTEMPLATE=${template} -P ${CMAKE_CURRENT_LIST_FILE}
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  string(REGEX REPLACE "[ \t\r\n]+" " " err "${err}")
  if(rc EQUAL 0)
    fail("the build accepted ${fixture}")
  elseif(NOT err MATCHES "${expected}")
    fail("${fixture} was refused for another reason: ${err}")
  endif()
endforeach()

# The check of a linked release setup.exe finds the loopback texts of a local one.
if(LOCAL_SETUP_EXE AND EXISTS "${LOCAL_SETUP_EXE}")
  execute_process(COMMAND ${CMAKE_COMMAND} -DEXE=${LOCAL_SETUP_EXE} -P ${SOURCE_DIR}/cmake/CheckRelease.cmake
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  string(REGEX REPLACE "[ \t\r\n]+" " " err "${err}")
  if(rc EQUAL 0 OR NOT err MATCHES "holds a loopback address")
    fail("the release check of setup.exe misses the loopback addresses of a local build: ${err}")
  endif()
endif()

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} deployment check(s) failed")
endif()
message(STATUS "deployments checked: ${releases} release deployment(s) free of loopback addresses")
