vorlen_add_test_program(engine_tests
  ${CMAKE_CURRENT_LIST_DIR}/patch_list_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/path_safety_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_digest_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_replace_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_check_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_download_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/download_progress_test.cpp)
