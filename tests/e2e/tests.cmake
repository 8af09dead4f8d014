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

# vorlen_add_e2e_test(<group> <script> [PATCHER https] <Class.test_name>...): one
# ctest test per case, named <group>.<name>, against the e2e test patcher (or the
# https one). They share the test patchers' ports, prefixes and display.
function(vorlen_add_e2e_test group script)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "PATCHER" "")
  set(patcher e2e)
  if(arg_PATCHER)
    set(patcher ${arg_PATCHER})
  endif()
  foreach(case ${arg_UNPARSED_ARGUMENTS})
    string(REGEX REPLACE "^.*\\.test_" "" name ${case})
    add_test(NAME ${group}.${name} COMMAND python3 ${script} -v ${case})
    set_tests_properties(${group}.${name} PROPERTIES
      FIXTURES_REQUIRED "session;${patcher}_patcher;publish_native"
      # One server on a test patcher's port, one user of its Wine prefix and of the
      # end-to-end display, at a time.
      RESOURCE_LOCK e2e_server
      ENVIRONMENT "${VORLEN_E2E_ENVIRONMENT};VORLEN_E2E_PATCHER=${CMAKE_BINARY_DIR}/${patcher}-patcher;${VORLEN_E2E_EXTRA_ENVIRONMENT}"
      TIMEOUT 300)
  endforeach()
endfunction()

set(VORLEN_E2E_EXTRA_ENVIRONMENT "VORLEN_E2E_GROUP=e2e")
vorlen_add_e2e_test(e2e ${CMAKE_CURRENT_LIST_DIR}/e2e_test.py
  EndToEnd.test_updates_an_empty_game_folder
  EndToEnd.test_finds_a_current_game_folder_current
  EndToEnd.test_updates_two_stale_files_out_of_many
  EndToEnd.test_refuses_to_update_while_the_game_runs
  EndToEnd.test_reports_a_missing_patch_list
  EndToEnd.test_stops_at_a_file_whose_digest_differs_on_the_server
  EndToEnd.test_the_play_button_starts_the_game_from_the_game_folder
  EndToEndSelfUpdate.test_replaces_the_executable_and_starts_the_new_one
  EndToEndMisbehaving.test_a_file_cut_short_by_the_server_fails_its_digest
  EndToEndMisbehaving.test_the_close_button_cancels_a_download_in_progress
  EndToEndMisbehaving.test_close_while_the_version_file_is_on_its_way_updates_nothing)

# Through a Varnish edge with its built-in VCL, in front of nginx.
vorlen_add_e2e_test(cache ${CMAKE_CURRENT_LIST_DIR}/cache_test.py
  ThroughACache.test_a_new_release_is_never_hidden_by_the_edge
  ReplacedWhileDownloading.test_a_file_renamed_into_place_mid_download_is_never_installed_wrong)

# https: the https test patcher against nginx over TLS with good and bad
# certificates, an old-TLS-only server and a redirect down to http.
set(VORLEN_E2E_EXTRA_ENVIRONMENT "VORLEN_E2E_GROUP=tls")
vorlen_add_e2e_test(tls ${CMAKE_CURRENT_LIST_DIR}/tls_test.py PATCHER https
  TlsUpdate.test_updates_an_empty_game_folder_over_tls
  TlsSelfUpdate.test_replaces_the_executable_over_tls
  TlsRefused.test_a_certificate_from_an_untrusted_ca
  TlsRefused.test_an_expired_certificate
  TlsRefused.test_a_certificate_for_another_host
  TlsRefused.test_a_server_that_speaks_only_tls_1_0_and_1_1
  TlsRefused.test_a_redirect_from_https_down_to_http)

# The nginx configuration on its own, without Wine, over http and https.
foreach(group NginxConfig NginxConfigTls ServeScript)
  add_test(NAME server.${group} COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/server_test.py -v ${group})
  set_tests_properties(server.${group} PROPERTIES
    ENVIRONMENT "VORLEN_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
    TIMEOUT 120)
endforeach()
