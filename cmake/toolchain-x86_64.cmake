# Cross-compiles the Windows program with MinGW-w64 (x86_64, posix thread model).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QEL_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
