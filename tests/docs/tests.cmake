# The documents (README.md, docs/): links, anchors, and the scripts and
# vorlen-publish options their shell blocks name. No Wine; the option check asks
# the native tool's --help.
vorlen_add_python_tests(docs ${CMAKE_CURRENT_LIST_DIR}/docs_test.py EACH class
  COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/docs_test.py -v
  PROPERTIES
    ENVIRONMENT "VORLEN_SOURCE_DIR=${CMAKE_SOURCE_DIR};VORLEN_PUBLISH_TOOL=${CMAKE_BINARY_DIR}/native-publish/tools-publish/vorlen-publish"
    TIMEOUT 120)
set_tests_properties(docs.ShellBlocks PROPERTIES FIXTURES_REQUIRED publish_native)
