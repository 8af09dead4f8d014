# vorlen_portable: the code that builds both for Windows and natively on Linux,
# shared by the patcher, the publishing tool, their tests and the fuzzers: the
# low-level helpers (base/) and the engine's parsers and rules for what the
# server sends. Included by every tree that needs it; defined once.
include_guard(GLOBAL)

set(VORLEN_PORTABLE_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)
add_library(vorlen_portable STATIC
  ${VORLEN_PORTABLE_ROOT}/base/base64.cpp
  ${VORLEN_PORTABLE_ROOT}/base/hex.cpp
  ${VORLEN_PORTABLE_ROOT}/base/release_statement.cpp
  ${VORLEN_PORTABLE_ROOT}/base/text.cpp
  ${VORLEN_PORTABLE_ROOT}/engine/download_progress.cpp
  ${VORLEN_PORTABLE_ROOT}/engine/local_path.cpp
  ${VORLEN_PORTABLE_ROOT}/engine/patch_list.cpp
  ${VORLEN_PORTABLE_ROOT}/engine/path_safety.cpp
  ${VORLEN_PORTABLE_ROOT}/selfupdate/version_check.cpp)
# UTF-8 and wide strings: Windows' own converters, or the native stand-in.
if(WIN32)
  target_sources(vorlen_portable PRIVATE ${VORLEN_PORTABLE_ROOT}/base/text_windows.cpp)
else()
  target_sources(vorlen_portable PRIVATE ${VORLEN_PORTABLE_ROOT}/base/text_native.cpp)
endif()
target_include_directories(vorlen_portable PUBLIC ${VORLEN_PORTABLE_ROOT})
target_compile_features(vorlen_portable PUBLIC cxx_std_17)
