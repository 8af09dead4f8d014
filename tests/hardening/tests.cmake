# Hardening: the real test patcher (see tests/e2e) against a hostile server, a
# broken disk and being killed mid-update. Same fixtures and lock as tests/e2e.
add_executable(hold_file WIN32 ${CMAKE_CURRENT_LIST_DIR}/hold_file.cpp)
target_link_options(hold_file PRIVATE -municode -static)
target_link_libraries(hold_file PRIVATE shell32)
target_include_directories(hold_file PRIVATE ${PROJECT_SOURCE_DIR})

# The proxy DLL that the planting case puts into the game folder under many names.
add_library(planted_dll SHARED ${CMAKE_CURRENT_LIST_DIR}/planted_dll.c)

set(VORLEN_E2E_EXTRA_ENVIRONMENT
    "VORLEN_HOLD_FILE=$<TARGET_FILE:hold_file>;VORLEN_PLANTED_DLL=$<TARGET_FILE:planted_dll>")
vorlen_add_e2e_test(hardening ${CMAKE_CURRENT_LIST_DIR}/hardening_test.py)
