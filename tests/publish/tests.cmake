# The publishing tool. Its Linux build, the one operators run, is built natively
# into <build>/native-publish by the fixture test publish_native_build; its unit
# tests and command-line tests run from there. The Windows build (part of this
# tree) is checked against it under Wine.
set(VORLEN_NATIVE_PUBLISH ${CMAKE_BINARY_DIR}/native-publish)

add_test(NAME publish_native_build
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/build-native ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR})
set_tests_properties(publish_native_build PROPERTIES FIXTURES_SETUP publish_native TIMEOUT 900)

foreach(suite Md5 ListPathRules FoldCaseKey NameCollisions ListLine PatcherVersion ServerUrl
              AsciiLowerCase Hex Utf8Validation Utf8Decoding Utf8Encoding Utf16ToUtf8 PrintableName
              Utf8ToWideConversion WideToUtf8Conversion)
  add_test(NAME publish_unit.${suite}
           COMMAND ${VORLEN_NATIVE_PUBLISH}/publish_unit_tests --gtest_filter=${suite}.*)
  # A filter that matches nothing must not pass as an empty success.
  set_tests_properties(publish_unit.${suite} PROPERTIES
    FIXTURES_REQUIRED publish_native
    FAIL_REGULAR_EXPRESSION "\\[==========\\] 0 tests"
    TIMEOUT 120)
endforeach()

foreach(group PublishedFolder Refusals AtomicWrite)
  add_test(NAME publish_cli.${group}
           COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/publish_cli_test.py -v ${group})
  set_tests_properties(publish_cli.${group} PROPERTIES
    FIXTURES_REQUIRED publish_native
    ENVIRONMENT "VORLEN_PUBLISH_TOOL=${VORLEN_NATIVE_PUBLISH}/tools-publish/vorlen-publish"
    TIMEOUT 300)
endforeach()

add_test(NAME publish_cli.WindowsBuild
         COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/publish_cli_test.py -v WindowsBuild)
set_tests_properties(publish_cli.WindowsBuild PROPERTIES
  FIXTURES_REQUIRED "session;publish_native"
  ENVIRONMENT "VORLEN_PUBLISH_TOOL=${VORLEN_NATIVE_PUBLISH}/tools-publish/vorlen-publish;VORLEN_PUBLISH_EXE=$<TARGET_FILE:vorlen-publish>;VORLEN_SOURCE_DIR=${CMAKE_SOURCE_DIR};VORLEN_BUILD_DIR=${CMAKE_BINARY_DIR};VORLEN_TEST=1"
  TIMEOUT 300)

# verify against real servers on 127.0.0.1: nginx, a Varnish edge in front of
# it, and the tests' misbehaving patch server; the Windows build under Wine.
foreach(group AgainstNginx ThroughEdge MisbehavingServer)
  add_test(NAME publish_verify.${group}
           COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/verify_cli_test.py -v ${group})
  set_tests_properties(publish_verify.${group} PROPERTIES
    FIXTURES_REQUIRED publish_native
    ENVIRONMENT "VORLEN_PUBLISH_TOOL=${VORLEN_NATIVE_PUBLISH}/tools-publish/vorlen-publish;VORLEN_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
    TIMEOUT 300)
endforeach()

add_test(NAME publish_verify.WindowsBuild
         COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/verify_cli_test.py -v WindowsBuild)
set_tests_properties(publish_verify.WindowsBuild PROPERTIES
  FIXTURES_REQUIRED "session;publish_native"
  ENVIRONMENT "VORLEN_PUBLISH_TOOL=${VORLEN_NATIVE_PUBLISH}/tools-publish/vorlen-publish;VORLEN_PUBLISH_EXE=$<TARGET_FILE:vorlen-publish>;VORLEN_SOURCE_DIR=${CMAKE_SOURCE_DIR};VORLEN_BUILD_DIR=${CMAKE_BINARY_DIR};VORLEN_TEST=1"
  TIMEOUT 300)
