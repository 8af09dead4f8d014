# End to end: the real patcher, built for a server of the tests' own (the URL is
# compiled in, so e2e_patcher_build makes a second copy of it), updates game
# folders from a folder written by vorlen-publish and served by nginx, or by the
# tests' misbehaving server on the same port.
set(VORLEN_E2E_PATCHER ${CMAKE_BINARY_DIR}/e2e-patcher)
set(VORLEN_E2E_ENVIRONMENT
    "VORLEN_SOURCE_DIR=${CMAKE_SOURCE_DIR};VORLEN_BUILD_DIR=${CMAKE_BINARY_DIR};VORLEN_E2E_PATCHER=${VORLEN_E2E_PATCHER};VORLEN_PUBLISH_TOOL=${CMAKE_BINARY_DIR}/native-publish/tools-publish/vorlen-publish")

add_test(NAME e2e_patcher_build
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/build-patcher ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}
                 ${CMAKE_TOOLCHAIN_FILE})
set_tests_properties(e2e_patcher_build PROPERTIES FIXTURES_SETUP e2e_patcher TIMEOUT 900)

# vorlen_add_e2e_test(<group> <script>): one ctest test per test_* method of the
# script, named <group>.<method without "test_">, with the environment above and
# VORLEN_E2E_EXTRA_ENVIRONMENT. They share the test patcher's port and Wine prefix.
# A new script of end-to-end cases is registered with one such line.
function(vorlen_add_e2e_test group script)
  vorlen_add_python_tests(${group} ${script} EACH method
    COMMAND python3 ${script} -v
    PROPERTIES
      FIXTURES_REQUIRED "session;e2e_patcher;publish_native"
      # One server on the test patcher's port, one user of its Wine prefix, at a time.
      RESOURCE_LOCK e2e_server
      ENVIRONMENT "${VORLEN_E2E_ENVIRONMENT};${VORLEN_E2E_EXTRA_ENVIRONMENT}"
      TIMEOUT 300)
endfunction()

set(VORLEN_E2E_EXTRA_ENVIRONMENT "VORLEN_E2E_GROUP=e2e")
vorlen_add_e2e_test(e2e ${CMAKE_CURRENT_LIST_DIR}/e2e_test.py)
# Through a Varnish edge with its built-in VCL, in front of nginx.
vorlen_add_e2e_test(cache ${CMAKE_CURRENT_LIST_DIR}/cache_test.py)

# The nginx configuration on its own, without Wine: one test per class.
vorlen_add_python_tests(server ${CMAKE_CURRENT_LIST_DIR}/server_test.py EACH class
  COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/server_test.py -v
  PROPERTIES
    ENVIRONMENT "VORLEN_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
    TIMEOUT 120)
