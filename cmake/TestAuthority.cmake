# The build's test certificate authority, for test deployments (TLS_TRUST = test-authority): a
# root certificate that the setup trusts instead of the Windows store, and a server certificate it
# signed for 127.0.0.1 and localhost, which the local services present. Made once with the openssl
# tool into ORBALA_TEST_AUTHORITY_DIR, beside the build folders (build/test-authority), where the
# test launcher, the demo and `./run services` hand it to the local services:
#   ca.pem, ca-key.pem     the authority
#   cert.pem, key.pem      the server certificate and key (--cert-dir of the local services)
# Nothing of it is ever trusted outside a test build.
get_filename_component(_default_authority "${CMAKE_BINARY_DIR}/../test-authority" ABSOLUTE)
set(ORBALA_TEST_AUTHORITY_DIR "${_default_authority}" CACHE PATH "the build's test certificate authority")

find_program(ORBALA_OPENSSL openssl)
if(NOT ORBALA_OPENSSL)
  message(FATAL_ERROR "The openssl tool is needed to make the test authority (scripts/bootstrap-packages.sh installs it)")
endif()

set(_ta "${ORBALA_TEST_AUTHORITY_DIR}")
file(MAKE_DIRECTORY "${_ta}")
# Build folders side by side configure one after the other, but never make it twice at once.
file(LOCK "${_ta}/.lock" GUARD FILE TIMEOUT 120)
if(NOT EXISTS "${_ta}/ca.pem" OR NOT EXISTS "${_ta}/ca-key.pem" OR NOT EXISTS "${_ta}/cert.pem" OR NOT EXISTS "${_ta}/key.pem")
  message(STATUS "Making the test certificate authority in ${_ta}")
  file(REMOVE "${_ta}/ca.pem" "${_ta}/ca-key.pem" "${_ta}/cert.pem" "${_ta}/key.pem")
  # Host names of the server certificate. 127.0.0.1 is named as a DNS name as well: libcurl's
  # check of a server against a CA file on Windows (Schannel) compares DNS names only.
  file(WRITE "${_ta}/server.ext"
    "basicConstraints=critical,CA:FALSE\n"
    "keyUsage=critical,digitalSignature,keyEncipherment\n"
    "extendedKeyUsage=serverAuth\n"
    "subjectAltName=IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost\n")
  file(WRITE "${_ta}/ca.ext"
    "basicConstraints=critical,CA:TRUE,pathlen:0\n"
    "keyUsage=critical,keyCertSign,cRLSign\n"
    "subjectKeyIdentifier=hash\n")
  set(_steps
    "genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out ca-key.pem"
    "req -new -key ca-key.pem -subj /CN=Orbala\\ setup\\ test\\ authority -out ca.csr"
    "x509 -req -in ca.csr -signkey ca-key.pem -days 3650 -sha256 -extfile ca.ext -out ca.pem"
    "genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out key.pem"
    "req -new -key key.pem -subj /CN=127.0.0.1 -out server.csr"
    "x509 -req -in server.csr -CA ca.pem -CAkey ca-key.pem -CAcreateserial -days 3650 -sha256 -extfile server.ext -out cert.pem")
  foreach(_step ${_steps})
    separate_arguments(_args UNIX_COMMAND "${_step}")
    execute_process(COMMAND ${ORBALA_OPENSSL} ${_args} WORKING_DIRECTORY "${_ta}"
      RESULT_VARIABLE _rc OUTPUT_QUIET ERROR_VARIABLE _err)
    if(NOT _rc EQUAL 0)
      file(REMOVE "${_ta}/ca.pem" "${_ta}/cert.pem")
      message(FATAL_ERROR "openssl ${_step} failed: ${_err}")
    endif()
  endforeach()
  file(REMOVE "${_ta}/ca.csr" "${_ta}/server.csr" "${_ta}/ca.srl")
endif()
file(LOCK "${_ta}/.lock" RELEASE)
