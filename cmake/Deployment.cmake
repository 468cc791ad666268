# The deployment the build is for (ORBALA_DEPLOYMENT, a folder under deployment/; "local" by
# default): its values become the generated header deployment_values.h and the skin's product
# configuration (skin/configure/configure.xml with @NAME@ placeholders filled in), both under
# ${CMAKE_BINARY_DIR}/generated. See DeploymentGenerate.cmake for the format and the checks.
include(${CMAKE_CURRENT_LIST_DIR}/DeploymentGenerate.cmake)

set(_dep_dir "${CMAKE_SOURCE_DIR}/deployment/${ORBALA_DEPLOYMENT}")
set(ORBALA_SKIN_TEMPLATE "${CMAKE_SOURCE_DIR}/skin/configure/configure.xml")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_dep_dir}/values.txt" "${ORBALA_SKIN_TEMPLATE}")

# A deployment that trusts the build's test authority gets one made (TestAuthority.cmake).
file(STRINGS "${_dep_dir}/values.txt" _trust REGEX "^[ \t]*TLS_TRUST[ \t]*=[ \t]*test-authority")
set(_authority_args "")
if(_trust)
  include(${CMAKE_CURRENT_LIST_DIR}/TestAuthority.cmake)
  set(_authority_args AUTHORITY_PEM "${ORBALA_TEST_AUTHORITY_DIR}/ca.pem")
endif()

orbala_generate_deployment("${_dep_dir}" "${ORBALA_SKIN_TEMPLATE}" "${CMAKE_BINARY_DIR}/generated" ${_authority_args})
set(ORBALA_GENERATED_SKIN_CONFIGURE "${CMAKE_BINARY_DIR}/generated/skin/configure/configure.xml")
