# The MinGW-w64 cross-compile settings both Windows toolchains share; the including file sets
# CMAKE_SYSTEM_PROCESSOR and QEL_MINGW_TRIPLET first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${QEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QEL_MINGW_TRIPLET}-windres)

# Libraries and headers come from the MinGW sysroot only; build tools come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${QEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Every program stands alone: no MinGW runtime DLL travels with it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Shipping builds carry no symbols.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
