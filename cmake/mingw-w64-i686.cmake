# Cross build for 32-bit Windows: the shipped product. It cannot run on a 64-bit-only
# kernel, so no emulator is set and its tests are static checks of the PE files.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QMX_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${QMX_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QMX_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QMX_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QMX_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
