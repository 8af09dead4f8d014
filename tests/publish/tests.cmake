# The publishing tool. Its Linux build, the one operators run, is built natively
# into <build>/native-publish by the fixture test publish_native_build; its unit
# tests and command-line tests run from there. The Windows build (part of this
# tree) is checked against it under Wine.
set(VORLEN_NATIVE_PUBLISH ${CMAKE_BINARY_DIR}/native-publish)

add_test(NAME publish_native_build
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/build-native ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR})
set_tests_properties(publish_native_build PROPERTIES FIXTURES_SETUP publish_native TIMEOUT 900)

foreach(suite Md5 Sha256Digest RateWatchTest ListPathRules FoldCaseKey NameCollisions ListLine PatcherVersion ServerUrl
              PublishRecord AsciiLowerCase Hex Base64 ReleaseStatement StatementTime StatementKeyId Utf8Validation
              Utf8Decoding Utf8Encoding Utf16ToUtf8 PrintableName
              Utf8ToWideConversion WideToUtf8Conversion)
  add_test(NAME publish_unit.${suite}
           COMMAND ${VORLEN_NATIVE_PUBLISH}/publish_unit_tests --gtest_filter=${suite}.*)
  # A filter that matches nothing must not pass as an empty success.
  set_tests_properties(publish_unit.${suite} PROPERTIES
    FIXTURES_REQUIRED publish_native
    FAIL_REGULAR_EXPRESSION "\\[==========\\] 0 tests"
    TIMEOUT 120)
endforeach()

# vorlen_add_publish_tests(<group> <script> [<environment>...]): one test per
# class of a script that tests the command line, named <group>.<Class>, against
# the native tool (VORLEN_PUBLISH_TOOL and the given environment). Its
# WindowsBuild class also runs the Windows build under Wine, in the session.
# A new script is registered with one such line.
set(VORLEN_PUBLISH_WINDOWS_ENVIRONMENT
    "VORLEN_PUBLISH_TOOL=${VORLEN_NATIVE_PUBLISH}/tools-publish/vorlen-publish;VORLEN_PUBLISH_EXE=$<TARGET_FILE:vorlen-publish>;VORLEN_SOURCE_DIR=${CMAKE_SOURCE_DIR};VORLEN_BUILD_DIR=${CMAKE_BINARY_DIR};VORLEN_TEST=1")
function(vorlen_add_publish_tests group script)
  set(environment "VORLEN_PUBLISH_TOOL=${VORLEN_NATIVE_PUBLISH}/tools-publish/vorlen-publish" ${ARGN})
  vorlen_add_python_tests(${group} ${script} EACH class
    COMMAND python3 ${script} -v
    PROPERTIES
      FIXTURES_REQUIRED publish_native
      ENVIRONMENT "${environment}"
      TIMEOUT 300)
  if(TEST ${group}.WindowsBuild)
    set_tests_properties(${group}.WindowsBuild PROPERTIES
      FIXTURES_REQUIRED "session;publish_native"
      ENVIRONMENT "${VORLEN_PUBLISH_WINDOWS_ENVIRONMENT}")
  endif()
endfunction()

vorlen_add_publish_tests(publish_cli ${CMAKE_CURRENT_LIST_DIR}/publish_cli_test.py)
# verify against real servers on 127.0.0.1: nginx, a Varnish edge in front of
# it, and the tests' misbehaving patch server; the Windows build under Wine.
vorlen_add_publish_tests(publish_verify ${CMAKE_CURRENT_LIST_DIR}/verify_cli_test.py
  VORLEN_SOURCE_DIR=${CMAKE_SOURCE_DIR})

# Signing: keygen, --signing-key, signatures checked with Debian's openssl; the
# Windows build's signing under Wine.
vorlen_add_publish_tests(publish_cli ${CMAKE_CURRENT_LIST_DIR}/signing_cli_test.py
  VORLEN_SOURCE_DIR=${CMAKE_SOURCE_DIR})
set_tests_properties(publish_cli.SigningOnWindows PROPERTIES
  FIXTURES_REQUIRED "session;publish_native"
  ENVIRONMENT "${VORLEN_PUBLISH_WINDOWS_ENVIRONMENT}")

# The digests' test vectors also against the Windows build's CNG, under Wine.
add_executable(publish_windows_unit_tests ${CMAKE_CURRENT_LIST_DIR}/md5_test.cpp)
target_link_libraries(publish_windows_unit_tests PRIVATE vorlen_publish_core GTest::gtest_main)
gtest_discover_tests(publish_windows_unit_tests
  TEST_PREFIX publish_windows_unit.
  DISCOVERY_MODE PRE_TEST
  DISCOVERY_TIMEOUT 180
  PROPERTIES
    FIXTURES_REQUIRED session
    TIMEOUT 120)
