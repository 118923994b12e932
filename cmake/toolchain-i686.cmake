# Cross-compiles the Windows program with MinGW-w64 (i686, posix thread model).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QEL_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
