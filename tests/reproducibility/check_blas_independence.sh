#!/usr/bin/env bash
# The library gives the same bits whatever BLAS and LAPACK the machine has:
# every output of quorvex_bits (the Windows case table and a set of seeded
# random calls of all six entry points) is compared bit for bit between
#  - the library as built, with nothing else in the process;
#  - the library with OpenBLAS (pthread build) first on the loader's path
#    and preloaded into the process, so that OpenBLAS's dgeqrf_, dgemm_, ...
#    are the ones the process sees: once with one OpenBLAS thread and one
#    calling thread, once with four OpenBLAS threads and three calling
#    threads;
#  - the library with the C library's functions for CPUs without FMA and
#    AVX2 (GLIBC_TUNABLES), as on an older x86-64 machine;
#  - a control library: the same objects linked to the system's
#    liblapack.so.3 and libblas.so.3 (as the library was once built), run
#    with Debian's reference LAPACK and BLAS.
# All must agree.  So that the comparison proves something, the control
# library run with OpenBLAS must give different bits.
#
#   check_blas_independence.sh QUORVEX_BITS LIBRARY CONTROL_LIBRARY WORKDIR [LAPACK_DIR]
#
# OpenBLAS is not installed: `apt-get download libopenblas0-pthread` and
# `dpkg -x` put it in WORKDIR/openblas (kept for the next run).  LAPACK_DIR
# (the folder of scripts/reference-lapack.sh) tells which Debian version the
# library's routines were compiled from: the comparison with the control
# library is strict only when it is the version of the installed liblapack3.
set -euo pipefail

bits=${1:?usage: check_blas_independence.sh QUORVEX_BITS LIBRARY CONTROL_LIBRARY WORKDIR [LAPACK_DIR]}
lib=${2:?} control=${3:?} work=${4:?} lapack_dir=${5:-}
fail() { echo "FAILED: $*" >&2; exit 1; }
mkdir -p "$work"
work=$(cd "$work" && pwd)
bits=$(realpath -e "$bits") lib=$(realpath -e "$lib") control=$(realpath -e "$control")

# --- OpenBLAS in a private folder ------------------------------------------
ob_root="$work/openblas"
(
  flock 9
  if ! find "$ob_root/root" -name liblapack.so.3 -path '*openblas*' 2>/dev/null | grep -q .; then
    rm -rf "$ob_root"
    mkdir -p "$ob_root/deb"
    echo "fetching OpenBLAS (apt-get download libopenblas0-pthread) into $ob_root"
    (cd "$ob_root/deb" && apt-get download -q libopenblas0-pthread >/dev/null 2>"$ob_root/download.log") ||
      { cat "$ob_root/download.log" >&2
        fail "apt-get download libopenblas0-pthread (apt-get update may be needed)"; }
    deb=$(find "$ob_root/deb" -name 'libopenblas0-pthread_*.deb' | head -n1)
    dpkg -x "$deb" "$ob_root/root"
    # It needs the C and Fortran run-times only; the library needs the latter too.
    dpkg-deb -f "$deb" Depends > "$ob_root/depends.txt"
  fi
) 9>"$work/.openblas.lock"
lapack_so=$(find "$ob_root/root" -name liblapack.so.3 -path '*openblas*' | head -n1)
ob_dir=$(dirname "$lapack_so")
[ -f "$ob_dir/libblas.so.3" ] || fail "no libblas.so.3 beside $lapack_so"
for p in $(sed 's/([^)]*)//g; s/,/ /g; s/|/ /g' "$ob_root/depends.txt"); do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
    fail "OpenBLAS needs $p, which is not installed"
done
echo "OpenBLAS: $(basename "$(find "$ob_root/deb" -name '*.deb' | head -n1)") in $ob_dir"

# Debian's reference LAPACK and BLAS, wherever the alternatives point.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
ref_path="/usr/lib/$multiarch/lapack:/usr/lib/$multiarch/blas"
[ -f "/usr/lib/$multiarch/lapack/liblapack.so.3" ] && [ -f "/usr/lib/$multiarch/blas/libblas.so.3" ] ||
  fail "Debian's reference liblapack3/libblas3 are not installed (scripts/deps.sh)"

out="$work/bits"
rm -rf "$out"
mkdir -p "$out"

# run NAME LIBRARY THREADS [ENV...]: quorvex_bits into $out/NAME.txt.
run() {
  local name=$1 library=$2 threads=$3 line
  shift 3
  line=$(env "$@" "$bits" "$library" "$out/$name.txt" "$threads") || fail "quorvex_bits ($name)"
  echo "$name: $line"
  printf '%s\n' "$line" > "$out/$name.log"
}
with_openblas=(LD_LIBRARY_PATH="$ob_dir" LD_PRELOAD="$ob_dir/liblapack.so.3 $ob_dir/libblas.so.3")

run control-reference "$control" 1 LD_LIBRARY_PATH="$ref_path"
run control-openblas "$control" 1 "${with_openblas[@]}" OPENBLAS_NUM_THREADS=1
run library "$lib" 1
run library-openblas-1 "$lib" 1 "${with_openblas[@]}" OPENBLAS_NUM_THREADS=1
run library-openblas-4 "$lib" 3 "${with_openblas[@]}" OPENBLAS_NUM_THREADS=4
# As on a CPU without FMA and AVX2: the C library then picks other variants
# of its functions (the library takes acos, sin and cos from it).
run library-no-fma "$lib" 1 GLIBC_TUNABLES=glibc.cpu.hwcaps=-FMA,-AVX2,-FMA4

# OpenBLAS was in the process, and the library does not lean on any LAPACK.
for n in control-openblas library-openblas-1 library-openblas-4; do
  grep -q "dgeqrf_ in the process: $ob_dir/" "$out/$n.log" ||
    fail "$n: OpenBLAS's dgeqrf_ was not the process's ($(cat "$out/$n.log"))"
done
linked=$(ldd "$lib" | grep -E 'blas|lapack' || true)
[ -z "$linked" ] || fail "$lib links a system BLAS or LAPACK: $linked"

# The calls whose outputs differ between two runs, by name.
per_call() { awk '/^case /{name=substr($0, 6); body=""; next} /^end$/{print name "\t" body; next}
                  {body=body "|" $0}' "$1"; }
differing() { { diff <(per_call "$1") <(per_call "$2") || true; } | awk -F'\t' '/^< /{print substr($1, 3)}'; }
total=$(grep -c '^case ' "$out/library.txt")

cmp -s "$out/control-reference.txt" "$out/control-openblas.txt" &&
  fail "OpenBLAS gives the control library the same bits as reference BLAS: the comparison would prove nothing"
changed=$(differing "$out/control-reference.txt" "$out/control-openblas.txt" | wc -l)
echo "control library linked to the system's LAPACK: OpenBLAS changes the outputs of $changed of $total calls"

status=0
for n in library-openblas-1 library-openblas-4 library-no-fma; do
  if ! cmp -s "$out/library.txt" "$out/$n.txt"; then
    echo "FAILED: $n differs from the library alone in these calls:" >&2
    differing "$out/library.txt" "$out/$n.txt" | head -n 20 >&2
    status=1
  fi
done

# Against the control library on reference BLAS: strict when the library's
# routines come from the installed liblapack3's own source version.
installed=$(dpkg-query -W -f='${source:Version}' liblapack3 2>/dev/null || true)
built=""
[ -n "$lapack_dir" ] && built=$(find "$lapack_dir/src" -maxdepth 1 -name 'lapack_*.dsc' 2>/dev/null |
                                  sed -n 's/.*lapack_\(.*\)\.dsc$/\1/p' | head -n1)
if cmp -s "$out/library.txt" "$out/control-reference.txt"; then
  echo "the library equals the control library on Debian's reference LAPACK/BLAS${installed:+ ($installed)}"
elif [ -n "$built" ] && [ "$built" = "$installed" ]; then
  echo "FAILED: the library differs from the control library on reference LAPACK/BLAS $installed in" \
       "$(differing "$out/library.txt" "$out/control-reference.txt" | wc -l) of $total calls" >&2
  status=1
else
  echo "note: the library's routines come from lapack ${built:-?}, the installed liblapack3 is" \
       "${installed:-?}; they differ in $(differing "$out/library.txt" "$out/control-reference.txt" | wc -l) of $total calls"
fi
[ "$status" -eq 0 ] || exit 1
echo "blas_independence: all $total calls bit-identical with reference BLAS, with OpenBLAS (1 and 4 threads), on 1 and 3 calling threads, and with the C library's functions for CPUs without FMA"
