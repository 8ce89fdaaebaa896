#!/usr/bin/env bash
# Builds the Windows DLLs QUORVEXv1.dll (the six entry points) and
# QUORVEXlab1.dll (the laboratory library) with the MinGW-w64 cross
# toolchain and tests them under Wine against the Linux libraries.
#
#   bash scripts/windows.sh        # 32-bit DLL, for 32-bit hosts: build-windows/
#   bash scripts/windows.sh --64   # 64-bit DLL, for 64-bit hosts: build-windows64/
#
#   QUORVEX_WINDOWS_BUILD_DIR  build folder (default: build-windows, or
#                              build-windows64 with --64)
#
# Steps, each skipped when already done, so a second run is quick:
#  1. installs what is missing (i386 architecture, Wine, the MinGW-w64 C++ and
#     Fortran compilers, a deb-src entry for Debian's LAPACK sources);
#  2. builds the needed part of Debian's reference LAPACK for the DLL
#     (scripts/windows-lapack.sh);
#  3. builds the Linux libraries and the generators of the shared case tables;
#  4. cross-builds QUORVEXv1.dll, QUORVEXlab1.dll and the test programs
#     (cmake/mingw-i686.cmake, or cmake/mingw-x86_64.cmake with --64), with
#     Boost's headers from a folder that holds only a link to
#     /usr/include/boost (mingw must not see the rest of /usr/include);
#  5. checks each DLL's import table with objdump (Windows system DLLs only),
#     and QUORVEXlab1.dll's export table against include/quorvex_lab.h
#     (tests/windows/check_lab_exports.py);
#  6. runs the example host program under Wine (in a prefix of its own in the
#     build folder), linked through the import library, and compares what it
#     prints with the Linux build's output;
#  7. writes the Linux library's outputs of the shared case table, then runs
#     the test program under Wine; the same for the laboratory library
#     (tests/windows/lab_cases.cpp, lab_check.cpp: bit for bit);
#  8. runs the spreadsheet module's worksheet functions and macro, mirrored
#     step for step (tests/windows/vba_mirror.cpp), under Wine on the example
#     data sheet and the case table tests/windows/vba_cases.txt, and compares
#     every number with the Python package's, bit for bit except the last
#     bits the Windows C library moves (32-bit: within 4 ulps, 64-bit: 16;
#     each differing value listed)
#     (tests/windows/check_vba_mirror.py); then its search for the DLL and
#     the reasons it gives (tests/windows/load_check.cpp), with the DLL of
#     the other bitness when its build folder has one.
# Each test program ends with its line 'N passed, N failed', the comparison
# with 'N compared, N failed'; exits non-zero on any failure.  The DLLs land
# in the build folder: build-windows/QUORVEXv1.dll and QUORVEXlab1.dll, or
# build-windows64/ with --64.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

case "${1:-}" in
  "") arch=i686 default_build=build-windows ;;
  --64) arch=x86_64 default_build=build-windows64 ;;
  *) echo "usage: bash scripts/windows.sh [--64]" >&2; exit 2 ;;
esac

source scripts/windows-deps.sh
ensure_windows_packages

build=${QUORVEX_WINDOWS_BUILD_DIR:-$default_build}
mkdir -p "$build"
build=$(cd "$build" && pwd)
jobs=$(nproc)

# 2. Reference LAPACK for the DLL.
bash scripts/windows-lapack.sh "$build/lapack" "$arch"

# 3. The Linux library, its example host and the case generator.
cmake -S . -B "$build/linux" -DCMAKE_BUILD_TYPE=Release -DQUORVEX_TESTS=OFF \
  -DQUORVEX_BENCH=OFF -DQUORVEX_EXAMPLES=ON -DQUORVEX_WINDOWS_CHECK=ON >/dev/null
cmake --build "$build/linux" -j"$jobs" --target quorvex_cases quorvex_lab_cases calibration_demo

# 4. The DLLs, the test programs and the example host for Windows.  Boost
#    is header-only: the cross compiler gets a folder holding only boost/.
mkdir -p "$build/boost-include"
ln -sfn /usr/include/boost "$build/boost-include/boost"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DQUORVEX_TESTS=OFF -DQUORVEX_BENCH=OFF -DQUORVEX_EXAMPLES=ON \
  -DQUORVEX_WINDOWS_CHECK=ON -DQUORVEX_LAPACK_LIBRARIES="$build/lapack/libquorvex_lapack.a" \
  -DQUORVEX_BOOST_INCLUDE_DIR="$build/boost-include" >/dev/null
cmake --build "$build" -j"$jobs"

# 5. Imports: Windows system DLLs only (the C++ and Fortran run-times and
#    LAPACK are inside), and LAPACK's own XERBLA, which would stop the
#    process, is not.  The laboratory library's exports: the header's
#    functions, nothing else.
for name in QUORVEXv1.dll QUORVEXlab1.dll; do
  dll="$build/$name"
  imports=$("$arch-w64-mingw32-objdump" -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p')
  echo "$name imports: $(echo $imports)"
  for d in $imports; do
    case "${d,,}" in
      kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll | ntdll.dll) ;;
      *) echo "FAILED: $name imports $d, which is not a Windows system DLL" >&2; exit 1 ;;
    esac
  done
  if grep -q "On entry to" "$dll"; then
    echo "FAILED: $name holds reference LAPACK's XERBLA" >&2
    exit 1
  fi
done
if [ "$arch" = x86_64 ]; then lab_dlls=(--dll64 "$build/QUORVEXlab1.dll")
else lab_dlls=(--dll32 "$build/QUORVEXlab1.dll"); fi
/usr/bin/python3 tests/windows/check_lab_exports.py include/quorvex_lab.h \
  src/interface/QUORVEXlab1.def src/interface/QUORVEXlab1-x64.def "${lab_dlls[@]}"

export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ "$arch" = x86_64 ] && export WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
[ -d "$WINEPREFIX" ] || echo "creating the Wine prefix $WINEPREFIX"
status=0

# 6. The example host program, Windows against Linux.
demo=0
(cd "$build" && wine calibration_demo.exe) | tr -d '\r' > "$build/calibration_demo-windows.txt" ||
  demo=$?
"$build/linux/examples/calibration_demo" > "$build/calibration_demo-linux.txt" || true
if [ "$demo" -ne 0 ] || ! diff -u "$build/calibration_demo-linux.txt" \
                               "$build/calibration_demo-windows.txt"; then
  echo "FAILED: calibration_demo.exe under Wine (exit $demo) does not print what the Linux build prints" >&2
  status=1
else
  echo "calibration_demo.exe under Wine prints what the Linux build prints"
fi

# 7. The Linux library's outputs, then the Wine test.
"$build/linux/tests/windows/quorvex_cases" "$build/cases-linux.txt"
(cd "$build" && wine quorvex_wine_check.exe cases-linux.txt) || status=$?
"$build/linux/tests/windows/quorvex_lab_cases" "$build/lab-cases-linux.txt"
(cd "$build" && wine quorvex_lab_check.exe lab-cases-linux.txt) || status=$?

# 8. The spreadsheet module, mirrored, against the Python package.
cp examples/quorvex-sheet.csv tests/windows/vba_cases.txt "$build/"
(cd "$build" && wine quorvex_vba_mirror.exe quorvex-sheet.csv vba_cases.txt vba-mirror.txt) ||
  status=$?
# Both DLLs run the core Python runs; their results differ from Linux's only
# in the last bits, where the Windows C library's exp, log and pow differ
# from glibc's (on the table: 3 values of the 32-bit DLL by at most 3 ulps,
# 67 of the 64-bit one by at most 9, through t and non-central t quantiles at
# fractional degrees of freedom).  Every such value is listed; integers,
# texts and flags must be equal.
ulps=(--ulps 4)
[ "$arch" = x86_64 ] && ulps=(--ulps 16)
QUORVEX_LIBRARY="$build/linux/libQUORVEXv1.so" PYTHONPATH="$root/python" \
  /usr/bin/python3 tests/windows/check_vba_mirror.py "${ulps[@]}" tests/windows/vba_cases.txt \
  "$build/vba-mirror.txt" || status=$?
other_dll=$root/build-windows64/QUORVEXv1.dll
[ "$arch" = x86_64 ] && other_dll=$root/build-windows/QUORVEXv1.dll
[ -f "$other_dll" ] && cp "$other_dll" "$build/QUORVEXv1-other.dll" || other_dll=
(cd "$build" && rm -rf load-check &&
  wine quorvex_load_check.exe ${other_dll:+QUORVEXv1-other.dll}) || status=$?

wineserver -w
exit "$status"
