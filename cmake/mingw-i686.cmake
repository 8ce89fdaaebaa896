# Cross toolchain for the 32-bit Windows DLL: Debian's MinGW-w64 compilers
# (the posix thread model, whose C++ and Fortran run-times are linked into
# the DLL statically).
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(QUORVEX_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${QUORVEX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORVEX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_Fortran_COMPILER ${QUORVEX_MINGW_TRIPLET}-gfortran-posix)
set(CMAKE_RC_COMPILER ${QUORVEX_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUORVEX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# SSE2 arithmetic instead of the x87 unit: results do not depend on extended
# precision or on the precision control word a host leaves set.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_Fortran_FLAGS_INIT "-msse2 -mfpmath=sse")
