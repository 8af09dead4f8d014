vorlen_add_test_program(net_tests ${CMAKE_CURRENT_LIST_DIR}/http_client_test.cpp)
target_link_libraries(net_tests PRIVATE ws2_32)
