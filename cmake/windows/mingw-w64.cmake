# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (POSIX threads: Qt needs std::thread and
# std::mutex). Used for Qt and libsodium (scripts/windows/third-party.sh) and for Plinket itself
# (scripts/build-windows).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PLINKET_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PLINKET_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PLINKET_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${PLINKET_MINGW_TRIPLET}-windres)
set(CMAKE_MC_COMPILER ${PLINKET_MINGW_TRIPLET}-windmc)

# Libraries and headers come from the MinGW sysroot and the prefixes given in CMAKE_PREFIX_PATH /
# CMAKE_FIND_ROOT_PATH, never from the Linux system; programs (Qt's host tools) from the Linux system.
set(CMAKE_FIND_ROOT_PATH /usr/${PLINKET_MINGW_TRIPLET} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
