# Generation of one deployment's build inputs from deployment/<name>/values.txt; included by
# Deployment.cmake at configure time and by the deployment test in script mode.
#
# values.txt: one "NAME = value" a line ('#' comments), a value of one word or a text in double
# quotes that may hold blanks (no quote inside); "scrambled" after
# the value stores it scrambled in setup.exe (XOR with a position key), so host names, the salt and
# the vendor key do not appear as plain text in the binary. Two names are settings of the build:
#   BUILD_KIND  test | release   A release may not point anywhere on the local machine (checked
#                                here) and ignores the test overrides of the files beside setup.exe.
#   TLS_TRUST   windows-store | test-authority   Which authorities HTTPS servers must be signed
#                                by; test-authority (the build's own, for the local services) only
#                                in a test build.
#
# orbala_generate_deployment(DEPLOYMENT_DIR SKIN_TEMPLATE OUT_DIR [AUTHORITY_PEM file])
#   writes OUT_DIR/deployment_values.h and OUT_DIR/skin/configure/configure.xml (the skin's
#   product configuration with every @NAME@ replaced by the deployment's value). Stops with an
#   error for a malformed line, an unknown @NAME@, or a release that names a loopback address.

# True (in OUT) when TEXT names the local machine: localhost, 127.x.x.x, ::1, 0.0.0.0.
function(orbala_names_loopback text out)
  string(TOLOWER "${text}" t)
  if(t MATCHES "localhost" OR t MATCHES "(^|[^0-9.])127\\.[0-9]+\\.[0-9]+\\.[0-9]+" OR t MATCHES "\\[::1?\\]"
     OR t MATCHES "(^|[^0-9a-f:])::1($|[^0-9a-f:])" OR t MATCHES "(^|[^0-9.])0\\.0\\.0\\.0($|[^0-9.])"
     OR t MATCHES "::ffff:127\\.")
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()

# A C++ raw string literal holding TEXT.
function(orbala_raw_literal text out)
  set(${out} "R\"orbala_pem(${text})orbala_pem\"" PARENT_SCOPE)
endfunction()

function(orbala_generate_deployment dep_dir skin_template out_dir)
  cmake_parse_arguments(G "" "AUTHORITY_PEM" "" ${ARGN})
  get_filename_component(dep_name "${dep_dir}" NAME)
  set(dep_file "${dep_dir}/values.txt")
  if(NOT EXISTS "${dep_file}")
    message(FATAL_ERROR "No deployment values at ${dep_file}")
  endif()
  file(STRINGS "${dep_file}" lines)

  set(names "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ \t]*#" OR line MATCHES "^[ \t]*$")
      continue()
    endif()
    if(NOT line MATCHES "^[ \t]*([A-Z0-9_]+)[ \t]*=[ \t]*(\"[^\"]*\"|[^ \t\"]*)[ \t]*(scrambled)?[ \t]*$")
      message(FATAL_ERROR "Bad deployment line in ${dep_file}: '${line}'")
    endif()
    set(name "${CMAKE_MATCH_1}")
    set(value "${CMAKE_MATCH_2}")
    set(scrambled_${name} "${CMAKE_MATCH_3}")
    if(name IN_LIST names)
      message(FATAL_ERROR "${dep_file}: ${name} is given twice")
    endif()
    list(APPEND names ${name})
    if(value MATCHES "^\"(.*)\"$")
      set(value "${CMAKE_MATCH_1}")
    endif()
    set(value_${name} "${value}")
  endforeach()

  # The two settings of the build.
  foreach(setting BUILD_KIND TLS_TRUST)
    if(NOT setting IN_LIST names)
      message(FATAL_ERROR "${dep_file}: ${setting} is missing")
    endif()
  endforeach()
  if(NOT value_BUILD_KIND MATCHES "^(test|release)$")
    message(FATAL_ERROR "${dep_file}: BUILD_KIND must be test or release, not '${value_BUILD_KIND}'")
  endif()
  if(NOT value_TLS_TRUST MATCHES "^(windows-store|test-authority)$")
    message(FATAL_ERROR "${dep_file}: TLS_TRUST must be windows-store or test-authority, not '${value_TLS_TRUST}'")
  endif()
  if(value_BUILD_KIND STREQUAL "release")
    if(NOT value_TLS_TRUST STREQUAL "windows-store")
      message(FATAL_ERROR "${dep_file}: a release build trusts the Windows certificate store only (TLS_TRUST = windows-store)")
    endif()
    foreach(name ${names})
      orbala_names_loopback("${value_${name}}" loop)
      if(loop)
        message(FATAL_ERROR "${dep_file}: ${name} = ${value_${name}} points at this machine; a release "
          "deployment (${dep_name}) must never ship with a loopback address")
      endif()
    endforeach()
  endif()
  if(value_TLS_TRUST STREQUAL "test-authority" AND NOT G_AUTHORITY_PEM)
    message(FATAL_ERROR "${dep_file}: TLS_TRUST = test-authority needs the build's test authority")
  endif()

  # The header.
  set(out "// Generated from deployment/${dep_name}/values.txt; do not edit.\n#pragma once\n#include <string>\n\nnamespace Deployment {\n\n")
  string(APPEND out "inline std::wstring Unscramble(const unsigned char* data, size_t size) {\n")
  string(APPEND out "    std::wstring text(size, L'\\0');\n")
  string(APPEND out "    for (size_t i = 0; i < size; ++i) text[i] = static_cast<wchar_t>(data[i] ^ ((0xA5 + 13 * i) & 0xFF));\n")
  string(APPEND out "    return text;\n}\n\n")
  string(APPEND out "inline constexpr const char* kName = \"${dep_name}\";\n")
  if(value_BUILD_KIND STREQUAL "test")
    string(APPEND out "// A test build: test overrides of the files beside setup.exe are honoured.\ninline constexpr bool kTestBuild = true;\n")
  else()
    string(APPEND out "// A release build: the files beside setup.exe cannot redirect it or weaken a check.\ninline constexpr bool kTestBuild = false;\n")
  endif()
  if(value_TLS_TRUST STREQUAL "test-authority")
    file(READ "${G_AUTHORITY_PEM}" pem)
    orbala_raw_literal("${pem}" pem_literal)
    string(APPEND out "// HTTPS servers must be signed by the build's test authority (this certificate).\n")
    string(APPEND out "inline constexpr bool kTrustTestAuthority = true;\ninline constexpr const char kTestAuthorityPem[] = ${pem_literal};\n\n")
  else()
    string(APPEND out "// HTTPS servers must be trusted by the Windows certificate store.\n")
    string(APPEND out "inline constexpr bool kTrustTestAuthority = false;\ninline constexpr const char kTestAuthorityPem[] = \"\";\n\n")
  endif()

  foreach(name ${names})
    if(name STREQUAL "BUILD_KIND" OR name STREQUAL "TLS_TRUST")
      continue()
    endif()
    set(value "${value_${name}}")
    if(scrambled_${name})
      string(HEX "${value}" hex)
      string(LENGTH "${hex}" hexlen)
      math(EXPR n "${hexlen} / 2")
      set(bytes "")
      if(n GREATER 0)
        math(EXPR last "${n} - 1")
        foreach(i RANGE 0 ${last})
          math(EXPR pos "${i} * 2")
          string(SUBSTRING "${hex}" ${pos} 2 b)
          math(EXPR s "(0x${b} ^ ((0xA5 + 13 * ${i}) & 255))" OUTPUT_FORMAT DECIMAL)
          string(APPEND bytes "${s},")
        endforeach()
      endif()
      string(APPEND out "inline std::wstring ${name}() {\n    static const unsigned char data[] = {${bytes}0};\n    return Unscramble(data, ${n});\n}\n")
    else()
      string(APPEND out "inline std::wstring ${name}() { return L\"${value}\"; }\n")
    endif()
  endforeach()
  string(APPEND out "\n}  // namespace Deployment\n")
  file(WRITE "${out_dir}/deployment_values.h.tmp" "${out}")
  configure_file("${out_dir}/deployment_values.h.tmp" "${out_dir}/deployment_values.h" COPYONLY)

  # The skin's product configuration: @NAME@ replaced by the deployment's values.
  file(READ "${skin_template}" skin)
  string(REGEX MATCHALL "@[A-Za-z0-9_]*@" placeholders "${skin}")
  list(REMOVE_DUPLICATES placeholders)
  foreach(p ${placeholders})
    string(REGEX REPLACE "^@(.*)@$" "\\1" name "${p}")
    if(NOT name IN_LIST names)
      message(FATAL_ERROR "${skin_template} names ${p}, which deployment/${dep_name} does not give")
    endif()
    string(REPLACE "${p}" "${value_${name}}" skin "${skin}")
  endforeach()
  if(value_BUILD_KIND STREQUAL "release")
    orbala_names_loopback("${skin}" loop)
    if(loop)
      message(FATAL_ERROR "${skin_template}: the skin's configuration points at this machine; a release "
        "deployment (${dep_name}) must never ship with a loopback address")
    endif()
  endif()
  file(MAKE_DIRECTORY "${out_dir}/skin/configure")
  file(WRITE "${out_dir}/skin/configure/configure.xml.tmp" "${skin}")
  configure_file("${out_dir}/skin/configure/configure.xml.tmp" "${out_dir}/skin/configure/configure.xml" COPYONLY)
  file(REMOVE "${out_dir}/skin/configure/configure.xml.tmp" "${out_dir}/deployment_values.h.tmp")
  set(ORBALA_BUILD_KIND "${value_BUILD_KIND}" PARENT_SCOPE)
  # Every value for the rest of the build (ORBALA_DEPLOY_<NAME>), as written, not scrambled.
  foreach(name ${names})
    set(ORBALA_DEPLOY_${name} "${value_${name}}" PARENT_SCOPE)
  endforeach()
endfunction()
