# Native (Linux) build: the publishing tool and, with VORLEN_FUZZ, the fuzzers.
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
add_compile_options(-Wall -Wextra)

option(VORLEN_FUZZ "Build the libFuzzer targets (needs clang)" OFF)

include(${CMAKE_CURRENT_LIST_DIR}/portable.cmake)

foreach(part tools/publish fuzz)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${part}/CMakeLists.txt)
    add_subdirectory(${part})
  endif()
endforeach()
