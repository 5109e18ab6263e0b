# Cross-build for 64-bit Windows with Debian's mingw-w64 (the posix thread
# model, which std::thread and std::mutex need). Libraries built for the
# target live under ARDENIX_WIN_PREFIX; programs run under wine64 when
# CTest starts them.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ARDENIX_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ARDENIX_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ARDENIX_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${ARDENIX_MINGW}-windres)

if(NOT ARDENIX_WIN_PREFIX AND DEFINED ENV{ARDENIX_WIN_PREFIX})
    set(ARDENIX_WIN_PREFIX $ENV{ARDENIX_WIN_PREFIX})
endif()
set(ARDENIX_WIN_PREFIX "${ARDENIX_WIN_PREFIX}" CACHE PATH "Prefix of the libraries built for Windows")

set(CMAKE_FIND_ROOT_PATH /usr/${ARDENIX_MINGW} ${ARDENIX_WIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config must see the target's .pc files only, never the host's.
if(ARDENIX_WIN_PREFIX)
    set(ENV{PKG_CONFIG_LIBDIR}
        "${ARDENIX_WIN_PREFIX}/lib/pkgconfig:${ARDENIX_WIN_PREFIX}/share/pkgconfig:/usr/${ARDENIX_MINGW}/lib/pkgconfig")
    set(ENV{PKG_CONFIG_PATH} "")
    set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
endif()

find_program(ARDENIX_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(ARDENIX_WINE64 NAMES wine64)
if(ARDENIX_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ARDENIX_WINE64})
endif()
