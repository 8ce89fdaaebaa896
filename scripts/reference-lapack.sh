#!/usr/bin/env bash
# Builds the part of reference LAPACK and BLAS that the library carries inside
# it: the routines the library calls and everything they call in turn,
# compiled from Debian's source package `lapack` into one static library.
# The Linux library (CMakeLists.txt) and both Windows DLLs
# (scripts/windows-lapack.sh) are built from this one description of the
# routines and the compiler flags, so they run the same code.
#
#   bash scripts/reference-lapack.sh OUTDIR [TARGET]
#
# TARGET is linux (the native gfortran, position-independent code for
# libQUORVEXv1.so; the default), i686 (the 32-bit DLL) or x86_64 (the 64-bit
# DLL), both with the MinGW-w64 gfortran.
#
# Leaves OUTDIR/libquorvex_lapack.a and OUTDIR/routines.txt (the routines in
# it).  The sources are fetched with `apt-get source` into OUTDIR/src (the
# version of the system's liblapack3 when one is installed and Debian still
# offers it, else the newest one Debian offers; scripts/deps.sh sets up the
# deb-src entry).  Nothing is redone while the library is up to date with the
# sources, this script and the compiler; several builds may share one OUTDIR
# (a lock serialises them).
#
# The call closure is found from the objects themselves: every undefined
# Fortran symbol (name_) that has a source file in BLAS/SRC, SRC or INSTALL
# is compiled in turn, until nothing new turns up.  XERBLA is left out on
# purpose: the library brings its own handler (src/numeric/xerbla.cpp), which
# returns instead of stopping the host process.
set -euo pipefail

out=${1:?usage: reference-lapack.sh OUTDIR [linux|i686|x86_64]}
target=${2:-linux}
mkdir -p "$out"
out=$(cd "$out" && pwd)

# --- what is built, and how ------------------------------------------------
# The routines the library calls (src/numeric/lapack.h).
ROOTS="dgeqrf dormqr dtrtrs dtptrs dpotrf dnrm2 dger dgemm dtrmv"
EXCLUDE="xerbla"
# Debian builds reference LAPACK and BLAS with -O2 -frecursive (beside -g and
# hardening flags, which do not change the arithmetic), and the routines its
# makefiles name below without optimisation.  On top: no fused multiply-add,
# so that no compiler or CPU turns a*b+c into one rounding.
FFLAGS_COMMON="-O2 -frecursive -ffp-contract=off"
FFLAGS_NOOPT_COMMON="-O0 -frecursive -ffp-contract=off"
NOOPT_ROUTINES="dlamch droundup_lwork dlaruv dla_wwaddw"

# Per target: the compiler, and what the target needs beside.  On Linux the
# code goes into a shared library (-fPIC); the link hides its symbols there
# (CMakeLists.txt), so that a host program's BLAS neither clashes with them
# nor replaces them.  On 32-bit
# Windows, SSE2 arithmetic (no x87 extended precision), and C names carry a
# leading underscore (dgemv_ is _dgemv_).  x86_64 computes in SSE2 anyway.
case "$target" in
  linux)
    FC=${QUORVEX_FC:-gfortran} AR=${QUORVEX_AR:-ar} NM=${QUORVEX_NM:-nm}
    extra="-fPIC" us="" ;;
  i686)
    FC=${QUORVEX_MINGW_FC:-i686-w64-mingw32-gfortran-posix}
    AR=${QUORVEX_MINGW_AR:-i686-w64-mingw32-ar} NM=${QUORVEX_MINGW_NM:-i686-w64-mingw32-nm}
    extra="-msse2 -mfpmath=sse" us=_ ;;
  x86_64)
    FC=${QUORVEX_MINGW_FC:-x86_64-w64-mingw32-gfortran-posix}
    AR=${QUORVEX_MINGW_AR:-x86_64-w64-mingw32-ar} NM=${QUORVEX_MINGW_NM:-x86_64-w64-mingw32-nm}
    extra="" us="" ;;
  *) echo "reference-lapack.sh: unknown TARGET $target (linux, i686 or x86_64)" >&2; exit 2 ;;
esac
FFLAGS="$FFLAGS_COMMON${extra:+ $extra}"
FFLAGS_NOOPT="$FFLAGS_NOOPT_COMMON${extra:+ $extra}"
command -v "$FC" >/dev/null || { echo "reference-lapack.sh: no Fortran compiler $FC" >&2; exit 1; }

# One build at a time in OUTDIR.
exec 9>"$out/.lock"
flock 9

# --- sources ---------------------------------------------------------------
srcparent="$out/src"
src=""
[ -d "$srcparent" ] && src=$(find "$srcparent" -mindepth 1 -maxdepth 1 -type d -name 'lapack-*' | head -n1)
if [ -z "$src" ]; then
  mkdir -p "$srcparent"
  version=$(dpkg-query -W -f='${source:Version}' liblapack3 2>/dev/null || true)
  echo "fetching Debian's lapack sources${version:+ ($version)}"
  (cd "$srcparent" &&
     { { [ -n "$version" ] && apt-get source -q "lapack=$version"; } || apt-get source -q lapack; }) ||
    { echo "reference-lapack.sh: apt-get source lapack failed (is there a deb-src entry? see scripts/deps.sh)" >&2
      exit 1; }
  src=$(find "$srcparent" -mindepth 1 -maxdepth 1 -type d -name 'lapack-*' | head -n1)
  [ -n "$src" ] || { echo "apt-get source lapack gave no source tree" >&2; exit 1; }
fi

lib="$out/libquorvex_lapack.a"
stamp="$out/stamp"
want="$(basename "$src") | $target | $("$FC" --version | head -n1) | $FFLAGS | $FFLAGS_NOOPT |
$(sha256sum < "${BASH_SOURCE[0]}" | cut -c1-16)"
if [ -f "$lib" ] && [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ]; then
  echo "reference LAPACK subset up to date: $lib ($(wc -l < "$out/routines.txt") routines)"
  exit 0
fi

obj="$out/obj"
rm -rf "$obj" "$lib" "$stamp"
mkdir -p "$obj/mod"

# The source file of routine $1, or nothing.
source_of() {
  local d e
  for d in BLAS/SRC SRC INSTALL; do
    for e in f f90 F90 F; do
      if [ -f "$src/$d/$1.$e" ]; then
        echo "$src/$d/$1.$e"
        return
      fi
    done
  done
}

compile_one() {
  local name=$1 file flags
  file=$(source_of "$name")
  flags=$FFLAGS
  case " $NOOPT_ROUTINES " in *" $name "*) flags=$FFLAGS_NOOPT ;; esac
  # shellcheck disable=SC2086
  "$FC" $flags -J "$obj/mod" -c "$file" -o "$obj/$name.o"
}
export -f compile_one source_of
export FC FFLAGS FFLAGS_NOOPT NOOPT_ROUTINES src obj

# Modules some routines USE come first (their objects join the archive only
# if something refers to them).
for m in la_constants la_xisnan; do
  f=$(source_of "$m")
  # shellcheck disable=SC2086
  [ -n "$f" ] && "$FC" $FFLAGS -J "$obj/mod" -c "$f" -o "$obj/$m.o"
done

declare -A seen=()
todo=""
for r in $ROOTS; do
  [ -n "$(source_of "$r")" ] || { echo "no source for $r" >&2; exit 1; }
  seen[$r]=1
  todo+="$r "
done
jobs=${QUORVEX_JOBS:-$(nproc)}
while [ -n "$todo" ]; do
  # shellcheck disable=SC2086
  printf '%s\n' $todo | xargs -P "$jobs" -I{} bash -c 'compile_one "$@"' _ {}
  next=""
  for r in $todo; do
    # Undefined Fortran symbols of the object.
    for s in $("$NM" -u "$obj/$r.o" | awk '{print $NF}' | sed -n "s/^$us\([a-z][a-z0-9_]*\)_\$/\1/p"); do
      [ -n "${seen[$s]:-}" ] && continue
      case " $EXCLUDE " in *" $s "*) continue ;; esac
      [ -n "$(source_of "$s")" ] || continue
      seen[$s]=1
      next+="$s "
    done
  done
  todo=$next
done

routines=$(printf '%s\n' "${!seen[@]}" | sort)
modules=""
for m in la_constants la_xisnan; do [ -f "$obj/$m.o" ] && modules+=" $m.o"; done
# shellcheck disable=SC2086
(cd "$obj" && "$AR" rcs "$lib.tmp" $(printf '%s.o ' $routines) $modules)
printf '%s\n' $routines > "$out/routines.txt"

# Every Fortran routine the archive still needs must be XERBLA, which the
# library supplies; anything else would be a hole in the closure.
defined=$("$NM" --defined-only "$lib.tmp" | awk 'NF==3 {print $3}' | sort -u)
missing=$("$NM" -u "$lib.tmp" | awk '{print $NF}' | grep -E "^$us[a-z][a-z0-9_]*_\$" | sort -u |
            comm -23 - <(echo "$defined") | grep -vx "${us}xerbla_" || true)
if [ -n "$missing" ]; then
  echo "reference LAPACK subset: unresolved routines: $missing" >&2
  exit 1
fi
if echo "$defined" | grep -qx "${us}xerbla_"; then
  echo "reference LAPACK subset: reference XERBLA must not be in the archive" >&2
  exit 1
fi
mv "$lib.tmp" "$lib"
echo "$want" > "$stamp"
echo "reference LAPACK subset built for $target: $lib ($(wc -l < "$out/routines.txt") routines: $(echo $routines))"
