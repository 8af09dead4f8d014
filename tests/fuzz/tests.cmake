# The short fuzz run: configures and builds the native fuzz targets with clang
# (preset "fuzz") in a tree of its own, fuzzes each for a few seconds and replays
# the kept regression inputs. Native only, so it needs no Wine session.
add_test(NAME fuzz_short_run
         COMMAND ${PROJECT_SOURCE_DIR}/scripts/fuzz --short ${CMAKE_BINARY_DIR}/fuzz-native)
set_tests_properties(fuzz_short_run PROPERTIES TIMEOUT 280)

# The targets that need no libFuzzer helper, built for Windows: their checks run on
# the committed seeds and regression inputs under Wine, with Windows' own UTF-8
# converter and C++ library instead of the native stand-ins.
foreach(target patch_list list_path)
  add_executable(fuzz_replay_${target}
    ${PROJECT_SOURCE_DIR}/fuzz/${target}_fuzzer.cpp
    ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
  target_link_libraries(fuzz_replay_${target} PRIVATE vorlen_core)
  add_test(NAME fuzz_replay_${target}
           COMMAND fuzz_replay_${target}
                   Z:${PROJECT_SOURCE_DIR}/fuzz/corpus/${target}
                   Z:${PROJECT_SOURCE_DIR}/fuzz/regressions/${target})
  set_tests_properties(fuzz_replay_${target} PROPERTIES TIMEOUT 120)
endforeach()
