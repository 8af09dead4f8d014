# The low-level helpers every subsystem uses. Their tests are portable: here they
# run under Wine against Windows' own UTF-8 converters, and the publishing tool's
# native unit tests (tests/publish) run them against the native stand-in.
vorlen_add_test_program(base_tests
  ${CMAKE_CURRENT_LIST_DIR}/ascii_case_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hex_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/release_statement_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/text_test.cpp)
