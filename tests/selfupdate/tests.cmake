vorlen_add_test_program(version_tests ${CMAKE_CURRENT_LIST_DIR}/version_check_test.cpp)

# These cases stage "<program>.new" beside the test program itself, so they take
# turns; they also start programs under the game's name, which the window's game
# tests must not see.
vorlen_add_test_program(selfupdate_tests
  ${CMAKE_CURRENT_LIST_DIR}/self_update_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/game_launch_test.cpp
  LOCK game_process)

# A patcher engine without a window, for the whole self-update: it answers the
# message box itself and reports how the run ended.
add_executable(self_update_host ${CMAKE_CURRENT_LIST_DIR}/self_update_host.cpp)
target_link_libraries(self_update_host PRIVATE vorlen_core)
target_link_options(self_update_host PRIVATE -municode)
add_dependencies(selfupdate_tests self_update_host)
