#!/usr/bin/env bash
# Builds and runs programs that use the library as its users do, from an
# installed copy only (tests/consumer: a C program found through pkg-config,
# a C++ program through find_package(quorvex) and quorvex.hpp):
#  1. `cmake --install` into a temporary prefix; the C program built with the
#     plain `cc ... $(pkg-config --cflags --libs quorvex)` line, then the
#     consumer project, all run;
#  2. `cpack -G DEB`; the package's declared dependencies checked, the package
#     installed with dpkg -i, the consumer project built against the system
#     copy and run; the package removed again (dpkg --purge).
# The package is removed and the temporary files deleted however the script
# ends.  Uses the build folder of scripts/test.sh (QUORVEX_BUILD_DIR, default
# build) and builds what is missing there.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source scripts/deps.sh
ensure_build_packages pkg-config
build=${QUORVEX_BUILD_DIR:-build}
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvex-consumer.XXXXXX")
package_in=0

# dpkg, waiting while another installation holds its lock.
dpkg_waiting() {
  local out i
  for i in $(seq 1 180); do
    if out=$($sudo dpkg "$@" 2>&1); then
      printf '%s\n' "$out"
      return 0
    fi
    grep -qi "lock" <<<"$out" || break
    [ "$i" -eq 1 ] && echo "waiting for the dpkg lock"
    sleep 5
  done
  printf '%s\n' "$out" >&2
  return 1
}

cleanup() {
  local rc=$?
  trap - EXIT
  if [ "$package_in" -eq 1 ]; then
    echo "removing the quorvex package"
    dpkg_waiting --purge quorvex >/dev/null || { echo "FAILED: dpkg --purge quorvex" >&2; rc=1; }
  fi
  rm -rf "$work"
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Runs both consumer programs of build folder $1 and the plain C program $2;
# each must load the library from folder $3.
run_consumers() {
  local bin=$1 plain=$2 libdir=$3 version=$4 p found
  for p in "$bin/consumer_c" "$bin/consumer_cxx" "$plain"; do
    found=$(ldd "$p" | sed -n 's/^[[:space:]]*libQUORVEXv1\.so\.[0-9]* => \([^ ]*\) .*/\1/p')
    if [ -z "$found" ] || [ "$(dirname "$(realpath -e "$found")")" != "$(realpath -e "$libdir")" ]; then
      echo "FAILED: $p loads the library from '${found}', not from $libdir" >&2
      return 1
    fi
    "$p" "$version"
  done
}

# The consumer project in build folder $1 (the environment says where to look).
build_consumer() {
  cmake -S tests/consumer -B "$1" -DCMAKE_BUILD_TYPE=Release >"$1.log" || { cat "$1.log"; return 1; }
  grep "quorvex .* (CMake package)" "$1.log"
  cmake --build "$1" -j"$(nproc)" >>"$1.log" || { cat "$1.log"; return 1; }
}

# The C program with the line from the README.
build_plain_c() {
  # shellcheck disable=SC2046
  cc -std=c99 -Wall -Wextra -Werror tests/consumer/consumer.c -o "$1" \
    $(pkg-config --cflags --libs quorvex) -Wl,-rpath,"$(pkg-config --variable=libdir quorvex)"
}

cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)"
version=$(sed -n 's/^#define QUORVEX_VERSION "\(.*\)"$/\1/p' "$build/include/quorvex_version.h")

echo "== installed into a temporary prefix"
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
[ "$(pkg-config --modversion quorvex)" = "$version" ] ||
  { echo "FAILED: pkg-config gives version $(pkg-config --modversion quorvex), not $version" >&2; exit 1; }
build_plain_c "$work/plain-prefix"
CMAKE_PREFIX_PATH="$prefix" build_consumer "$work/consumer-prefix"
run_consumers "$work/consumer-prefix" "$work/plain-prefix" "$prefix/lib" "$version"
unset PKG_CONFIG_PATH

echo "== Debian package"
(cd "$build" && cpack -G DEB -B "$work/deb" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb=$(find "$work/deb" -maxdepth 1 -name 'quorvex_*.deb' | head -n1)
[ -n "$deb" ] || { echo "FAILED: cpack made no package" >&2; exit 1; }
depends=$(dpkg-deb -f "$deb" Depends)
echo "$(basename "$deb"): Depends: $depends"
# The library carries its own reference LAPACK and BLAS: the package must
# not pull in (or let the machine substitute) a system one.
if grep -qiE "blas|lapack" <<<"$depends"; then
  echo "FAILED: the package depends on a BLAS or LAPACK: $depends" >&2
  exit 1
fi
if dpkg-query -W -f='${Status}' quorvex 2>/dev/null | grep -q "install ok installed"; then
  echo "note: a quorvex package was installed already; it is replaced, then removed"
fi
package_in=1
dpkg_waiting -i "$deb" >/dev/null
syslib=$(dirname "$(dpkg -L quorvex | grep '/libQUORVEXv1\.so\.[0-9]*$')")
echo "installed: $syslib/libQUORVEXv1.so.*"
build_plain_c "$work/plain-system"
build_consumer "$work/consumer-system"
run_consumers "$work/consumer-system" "$work/plain-system" "$syslib" "$version"
dpkg_waiting --purge quorvex >/dev/null
package_in=0
if dpkg-query -W -f='${Status}' quorvex 2>/dev/null | grep -q "installed"; then
  echo "FAILED: the quorvex package is still installed" >&2
  exit 1
fi
echo "consumer: the installed tree and the Debian package both build and run"
