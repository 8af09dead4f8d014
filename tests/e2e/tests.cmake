# End to end: the real patcher, built for a server of the tests' own (the URL is
# compiled in, so e2e_patcher_build makes a second copy of it), updates game
# folders from a folder written by vorlen-publish and served by nginx, or by the
# tests' misbehaving server on the same port.
set(VORLEN_E2E_PATCHER ${CMAKE_BINARY_DIR}/e2e-patcher)
set(VORLEN_E2E_ENVIRONMENT
    "VORLEN_SOURCE_DIR=${CMAKE_SOURCE_DIR};VORLEN_BUILD_DIR=${CMAKE_BINARY_DIR};VORLEN_PUBLISH_TOOL=${CMAKE_BINARY_DIR}/native-publish/tools-publish/vorlen-publish")

add_test(NAME e2e_patcher_build
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/build-patcher ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}
                 ${CMAKE_TOOLCHAIN_FILE})
set_tests_properties(e2e_patcher_build PROPERTIES FIXTURES_SETUP e2e_patcher TIMEOUT 900)
# The same for https://localhost:PORT/fs, whose Wine prefix trusts the session's CA.
add_test(NAME https_patcher_build
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/build-patcher --https ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}
                 ${CMAKE_TOOLCHAIN_FILE})
set_tests_properties(https_patcher_build PROPERTIES
  FIXTURES_SETUP https_patcher FIXTURES_REQUIRED session TIMEOUT 900)

# vorlen_add_e2e_test(<group> <script> [PATCHER https]): one ctest test per
# test_* method of the script, named <group>.<method without "test_">, against the
# e2e test patcher (or the https one), with the environment above and
# VORLEN_E2E_EXTRA_ENVIRONMENT. They share the test patchers' ports, prefixes and
# display. A new script of end-to-end cases is registered with one such line.
function(vorlen_add_e2e_test group script)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "PATCHER" "")
  set(patcher e2e)
  if(arg_PATCHER)
    set(patcher ${arg_PATCHER})
  endif()
  vorlen_add_python_tests(${group} ${script} EACH method
    COMMAND python3 ${script} -v
    PROPERTIES
      FIXTURES_REQUIRED "session;${patcher}_patcher;publish_native"
      # One server on a test patcher's port, one user of its Wine prefix and of the
      # end-to-end display, at a time.
      RESOURCE_LOCK e2e_server
      ENVIRONMENT "${VORLEN_E2E_ENVIRONMENT};VORLEN_E2E_PATCHER=${CMAKE_BINARY_DIR}/${patcher}-patcher;${VORLEN_E2E_EXTRA_ENVIRONMENT}"
      TIMEOUT 300)
endfunction()

set(VORLEN_E2E_EXTRA_ENVIRONMENT "VORLEN_E2E_GROUP=e2e")
vorlen_add_e2e_test(e2e ${CMAKE_CURRENT_LIST_DIR}/e2e_test.py)
# Through a Varnish edge with its built-in VCL, in front of nginx.
vorlen_add_e2e_test(cache ${CMAKE_CURRENT_LIST_DIR}/cache_test.py)
# Through tinyproxy, named by the user's proxy settings in a prefix of its own.
vorlen_add_e2e_test(proxy ${CMAKE_CURRENT_LIST_DIR}/proxy_test.py)

# https: the https test patcher against nginx over TLS with good and bad
# certificates, an old-TLS-only server and a redirect down to http.
set(VORLEN_E2E_EXTRA_ENVIRONMENT "VORLEN_E2E_GROUP=tls")
vorlen_add_e2e_test(tls ${CMAKE_CURRENT_LIST_DIR}/tls_test.py PATCHER https)

# The same for a patcher with a signing key compiled in (the key pair stays in its folder).
add_test(NAME keyed_patcher_build
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/build-patcher --keyed ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}
                 ${CMAKE_TOOLCHAIN_FILE})
set_tests_properties(keyed_patcher_build PROPERTIES FIXTURES_SETUP keyed_patcher TIMEOUT 900)

# Signed releases: the keyed patcher refuses every tampering; the unkeyed one (the
# e2e patcher) asks for no signature.
set(VORLEN_E2E_EXTRA_ENVIRONMENT "VORLEN_E2E_GROUP=signing")
vorlen_add_e2e_test(signing ${CMAKE_CURRENT_LIST_DIR}/signing_test.py PATCHER keyed)
set_tests_properties(signing.asks_for_no_signature_and_logs_as_before PROPERTIES
  FIXTURES_REQUIRED "session;e2e_patcher;publish_native"
  ENVIRONMENT "${VORLEN_E2E_ENVIRONMENT};VORLEN_E2E_PATCHER=${CMAKE_BINARY_DIR}/e2e-patcher;${VORLEN_E2E_EXTRA_ENVIRONMENT}")

# The nginx configuration on its own, without Wine, over http and https: one test
# per class.
vorlen_add_python_tests(server ${CMAKE_CURRENT_LIST_DIR}/server_test.py EACH class
  COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/server_test.py -v
  PROPERTIES
    ENVIRONMENT "VORLEN_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
    TIMEOUT 120)
