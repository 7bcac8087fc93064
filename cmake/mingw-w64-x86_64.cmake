# Cross-building for 64-bit Windows with Debian's mingw-w64 compilers. The
# -posix variants: the default -win32 variant has no std::thread or std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KX_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KX_MINGW_TRIPLET}-windres)

# Libraries built for Windows (Xerces-C++, GoogleTest) are found only under the
# mingw root and the prefixes listed in KX_WIN_PREFIXES, never on the host.
set(CMAKE_FIND_ROOT_PATH /usr/${KX_MINGW_TRIPLET} ${KX_WIN_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KX_WIN_PREFIXES)

# Programs built here run under Wine (tests, test discovery).
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
