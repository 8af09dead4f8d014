# Configure-time checks: cmake on its own, without a build.
add_test(NAME build.ServerUrlWarning
         COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/server_url_test.py -v ServerUrlWarning)
set_tests_properties(build.ServerUrlWarning PROPERTIES
  ENVIRONMENT "VORLEN_SOURCE_DIR=${CMAKE_SOURCE_DIR};VORLEN_TOOLCHAIN=${CMAKE_TOOLCHAIN_FILE}"
  TIMEOUT 180)
add_test(NAME build.SigningKeyHeader
         COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/signing_key_test.py -v SigningKeyHeader)
set_tests_properties(build.SigningKeyHeader PROPERTIES
  ENVIRONMENT "VORLEN_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
  TIMEOUT 180)
