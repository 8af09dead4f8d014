# The window: its text and share arithmetic, its embedded images, and the real
# window on a display of its own (window_tests.py).

vorlen_add_test_program(ui_tests
  ${CMAKE_CURRENT_LIST_DIR}/screen_text_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/png_resource_test.cpp
  ${PROJECT_SOURCE_DIR}/resources/resources.rc
  ${CMAKE_CURRENT_LIST_DIR}/test_resources.rc)
