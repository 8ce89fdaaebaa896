#!/usr/bin/env bash
# Builds the part of reference LAPACK and BLAS that QUORVEXv1.dll links
# statically: the routines the library calls and everything they call in
# turn, compiled from Debian's source package `lapack` with the MinGW Fortran
# compiler into one static library.
#
#   bash scripts/windows-lapack.sh OUTDIR [ARCH]
#
# ARCH is i686 (the 32-bit DLL, the default) or x86_64 (the 64-bit DLL).
#
# Leaves OUTDIR/libquorvex_lapack.a and OUTDIR/routines.txt (the routines in
# it).  The sources are fetched with `apt-get source` into OUTDIR/src (the
# version of the system's liblapack3 when Debian still offers it, so that the
# DLL and the Linux library run the same code).  Nothing is redone when the
# library is up to date.
#
# The call closure is found from the objects themselves: every undefined
# Fortran symbol (name_) that has a source file in BLAS/SRC, SRC or INSTALL
# is compiled in turn, until nothing new turns up.  XERBLA is left out on
# purpose: the DLL brings its own handler, which returns instead of stopping
# the host process.
set -euo pipefail

out=${1:?usage: windows-lapack.sh OUTDIR [i686|x86_64]}
arch=${2:-i686}
mkdir -p "$out"
out=$(cd "$out" && pwd)

# SSE2 arithmetic (no x87 extended precision), no fused multiply-add, and
# the flags Debian builds its reference LAPACK with (-O2 -frecursive; dlamch
# without optimisation).  x86_64 computes in SSE2 anyway.  On 32-bit Windows
# C names carry a leading underscore (dgemv_ is _dgemv_), on 64-bit not.
case "$arch" in
  i686) sse="-msse2 -mfpmath=sse" us=_ ;;
  x86_64) sse="" us="" ;;
  *) echo "windows-lapack.sh: unknown ARCH $arch (i686 or x86_64)" >&2; exit 2 ;;
esac
FC=${QUORVEX_MINGW_FC:-$arch-w64-mingw32-gfortran-posix}
AR=${QUORVEX_MINGW_AR:-$arch-w64-mingw32-ar}
NM=${QUORVEX_MINGW_NM:-$arch-w64-mingw32-nm}
FFLAGS="-O2 -frecursive${sse:+ $sse} -ffp-contract=off"
FFLAGS_NOOPT="-O0 -frecursive${sse:+ $sse} -ffp-contract=off"
ROOTS="dgeqrf dormqr dtrtrs dtptrs dnrm2 dger"
EXCLUDE="xerbla"

# --- sources ---------------------------------------------------------------
srcparent="$out/src"
src=""
[ -d "$srcparent" ] && src=$(find "$srcparent" -mindepth 1 -maxdepth 1 -type d -name 'lapack-*' | head -n1)
if [ -z "$src" ]; then
  mkdir -p "$srcparent"
  version=$(dpkg-query -W -f='${source:Version}' liblapack3 2>/dev/null || true)
  echo "fetching Debian's lapack sources${version:+ ($version)}"
  (cd "$srcparent" &&
     { { [ -n "$version" ] && apt-get source -q "lapack=$version"; } || apt-get source -q lapack; })
  src=$(find "$srcparent" -mindepth 1 -maxdepth 1 -type d -name 'lapack-*' | head -n1)
  [ -n "$src" ] || { echo "apt-get source lapack gave no source tree" >&2; exit 1; }
fi

lib="$out/libquorvex_lapack.a"
stamp="$out/stamp"
want="$(basename "$src") | $FC | $FFLAGS | $FFLAGS_NOOPT | $ROOTS | -$EXCLUDE"
if [ -f "$lib" ] && [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ]; then
  echo "LAPACK subset up to date: $lib ($(wc -l < "$out/routines.txt") routines)"
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
  [ "$name" = dlamch ] && flags=$FFLAGS_NOOPT
  # shellcheck disable=SC2086
  "$FC" $flags -J "$obj/mod" -c "$file" -o "$obj/$name.o"
}
export -f compile_one source_of
export FC FFLAGS FFLAGS_NOOPT src obj

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
while [ -n "$todo" ]; do
  # shellcheck disable=SC2086
  printf '%s\n' $todo | xargs -P "$(nproc)" -I{} bash -c 'compile_one "$@"' _ {}
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
# shellcheck disable=SC2086
(cd "$obj" && "$AR" rcs "$lib" $(printf '%s.o ' $routines) la_constants.o la_xisnan.o)
printf '%s\n' $routines > "$out/routines.txt"

# Every Fortran routine the archive still needs must be XERBLA, which the DLL
# supplies; anything else would be a hole in the closure.
defined=$("$NM" --defined-only "$lib" | awk 'NF==3 {print $3}' | sort -u)
missing=$("$NM" -u "$lib" | awk '{print $NF}' | grep -E "^$us[a-z][a-z0-9_]*_\$" | sort -u |
            comm -23 - <(echo "$defined") | grep -vx "${us}xerbla_" || true)
if [ -n "$missing" ]; then
  echo "LAPACK subset: unresolved routines: $missing" >&2
  exit 1
fi
if echo "$defined" | grep -qx "${us}xerbla_"; then
  echo "LAPACK subset: reference XERBLA must not be in the archive" >&2
  exit 1
fi
echo "$want" > "$stamp"
echo "LAPACK subset built: $lib ($(wc -l < "$out/routines.txt") routines: $(echo $routines))"
