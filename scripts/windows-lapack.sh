#!/usr/bin/env bash
# Builds the part of reference LAPACK and BLAS that QUORVEXv1.dll links
# statically: the same routines, from the same Debian sources, with the same
# flags as the Linux library (scripts/reference-lapack.sh holds that one
# description), compiled with the MinGW-w64 Fortran compiler.
#
#   bash scripts/windows-lapack.sh OUTDIR [ARCH]
#
# ARCH is i686 (the 32-bit DLL, the default) or x86_64 (the 64-bit DLL).
# Leaves OUTDIR/libquorvex_lapack.a and OUTDIR/routines.txt.
set -euo pipefail
out=${1:?usage: windows-lapack.sh OUTDIR [i686|x86_64]}
arch=${2:-i686}
case "$arch" in
  i686 | x86_64) ;;
  *) echo "windows-lapack.sh: unknown ARCH $arch (i686 or x86_64)" >&2; exit 2 ;;
esac
exec bash "$(dirname "${BASH_SOURCE[0]}")/reference-lapack.sh" "$out" "$arch"
