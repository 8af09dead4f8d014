# The window: its text and share arithmetic, its embedded images, the shipped
# executable's manifest, and the real window on a display of its own
# (window_tests.py).

vorlen_add_test_program(ui_tests
  ${CMAKE_CURRENT_LIST_DIR}/screen_text_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/png_resource_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/manifest_test.cpp
  ${PROJECT_SOURCE_DIR}/resources/resources.rc
  ${CMAKE_CURRENT_LIST_DIR}/test_resources.rc)

# The real window in a program of its own, driven through standard input by
# window_tests.py: once with the embedded images and once without any resource,
# where every element falls back to its plain colours.
foreach(variant ui_window_host ui_window_host_bare)
  set(sources ${CMAKE_CURRENT_LIST_DIR}/window_host.cpp)
  if(variant STREQUAL "ui_window_host")
    list(APPEND sources ${PROJECT_SOURCE_DIR}/resources/resources.rc)
  endif()
  add_executable(${variant} ${sources})
  target_link_libraries(${variant} PRIVATE vorlen_core)
  target_include_directories(${variant} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
endforeach()

# Screenshot and input cases of window_tests.py, most on an X display of their own.
# Debian's python3 has the PIL and numpy the checks need (scripts/setup).
set(ui_window_cases
  idle_screen checking_screen downloading_screen completed_screen error_screen
  long_status_is_trimmed texts_without_font_replacements fallback_screens fallback_buttons_on_hover
  main_button_in_idle_starts_a_run main_button_in_error_starts_a_run
  main_button_while_checking_does_nothing main_button_while_downloading_does_nothing
  main_button_when_completed_launches_game_and_quits
  top_strip_drags_window hover_crossing_an_edge_repaints_once
  real_patcher_downloads_then_plays real_patcher_close_during_download)
foreach(case IN LISTS ui_window_cases)
  add_test(NAME ui_window.${case}
           COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/window_tests.py ${CMAKE_BINARY_DIR} ${case})
  set_tests_properties(ui_window.${case} PROPERTIES
    FIXTURES_REQUIRED session
    ENVIRONMENT VORLEN_TEST=1
    SKIP_RETURN_CODE 77
    TIMEOUT 240)
endforeach()
# The drag uses the session's display, where other tests' windows may appear.
set_tests_properties(ui_window.top_strip_drags_window PROPERTIES RESOURCE_LOCK session_display)
# A run looks for a running "Vorlen.exe" among all programs of the session's
# wineserver: cases that start one, or start the real patcher, take turns.
set_tests_properties(ui_window.main_button_when_completed_launches_game_and_quits
  PROPERTIES RESOURCE_LOCK game_process)
# The real patcher's server is its built-in 127.0.0.1:8080.
set_tests_properties(ui_window.real_patcher_downloads_then_plays
                     ui_window.real_patcher_close_during_download
  PROPERTIES RESOURCE_LOCK "game_process;port_8080")
