# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 in its posix thread model, the
# model the Qt kit was built with (its DLLs need libwinpthread-1.dll).
# Use: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-posix.cmake -DCMAKE_PREFIX_PATH=<Qt kit>
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TESSEL_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TESSEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESSEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TESSEL_MINGW_TRIPLET}-windres)

# Libraries and headers come from the MinGW sysroot and from the kit (CMAKE_PREFIX_PATH);
# programs (Qt's moc, rcc, uic are Linux binaries in the kit) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${TESSEL_MINGW_TRIPLET} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
