# Cross toolchain for the 64-bit Windows DLL: Debian's MinGW-w64 compilers
# for x86_64 (the posix thread model, whose C++ and Fortran run-times are
# linked into the DLL statically).
#   cmake -S . -B build-windows64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
# x86_64 does all double arithmetic in SSE2 registers, so no flags are needed
# for that; -ffp-contract=off (CMakeLists.txt) keeps a*b+c unfused as on Linux.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(QUORVEX_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUORVEX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORVEX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_Fortran_COMPILER ${QUORVEX_MINGW_TRIPLET}-gfortran-posix)
set(CMAKE_RC_COMPILER ${QUORVEX_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUORVEX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
