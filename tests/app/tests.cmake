vorlen_add_test_program(app_tests
  ${CMAKE_CURRENT_LIST_DIR}/logger_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/message_loop_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/patcher_state_test.cpp)
