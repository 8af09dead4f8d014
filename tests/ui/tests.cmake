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
endforeach()

# Screenshot and input cases of window_tests.py, most on an X display of their own:
# every function it marks @case, with the resource locks the mark names (the
# session's display, programs under the game's name, the real patcher's port).
# Debian's python3 has the PIL and numpy the checks need (scripts/setup).
vorlen_add_python_tests(ui_window ${CMAKE_CURRENT_LIST_DIR}/window_tests.py EACH case
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/window_tests.py ${CMAKE_BINARY_DIR}
  PROPERTIES
    FIXTURES_REQUIRED session
    ENVIRONMENT VORLEN_TEST=1
    SKIP_RETURN_CODE 77
    TIMEOUT 240)
