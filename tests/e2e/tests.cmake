# End to end: the real patcher, built for a server of the tests' own (the URL is
# compiled in, so e2e_patcher_build makes a second copy of it), updates game
# folders from a folder written by vorlen-publish and served by nginx.
set(VORLEN_E2E_PATCHER ${CMAKE_BINARY_DIR}/e2e-patcher)

add_test(NAME e2e_patcher_build
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/build-patcher ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR})
set_tests_properties(e2e_patcher_build PROPERTIES FIXTURES_SETUP e2e_patcher TIMEOUT 900)

foreach(case updates_an_empty_game_folder finds_a_current_game_folder_current)
  add_test(NAME e2e.${case}
           COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/e2e_test.py -v EndToEnd.test_${case})
  set_tests_properties(e2e.${case} PROPERTIES
    FIXTURES_REQUIRED "session;e2e_patcher;publish_native"
    # One nginx on the test patcher's port at a time.
    RESOURCE_LOCK e2e_server
    ENVIRONMENT "VORLEN_SOURCE_DIR=${CMAKE_SOURCE_DIR};VORLEN_BUILD_DIR=${CMAKE_BINARY_DIR};VORLEN_E2E_PATCHER=${VORLEN_E2E_PATCHER};VORLEN_PUBLISH_TOOL=${CMAKE_BINARY_DIR}/native-publish/tools-publish/vorlen-publish"
    TIMEOUT 300)
endforeach()

# The nginx configuration on its own, without Wine.
foreach(group NginxConfig ServeScript)
  add_test(NAME server.${group} COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/server_test.py -v ${group})
  set_tests_properties(server.${group} PROPERTIES
    ENVIRONMENT "VORLEN_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
    TIMEOUT 120)
endforeach()
