# Cross-compiles the same sources as 64-bit Windows programs. Only for testing on
# a machine whose kernel cannot run 32-bit programs (and so no 32-bit Wine): the
# patcher that ships is the i686 build.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
