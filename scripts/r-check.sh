#!/usr/bin/env bash
# The R package (R/) as CI checks it:
#  1. the engine library and the laboratory library (their targets only)
#     built in the build folder of scripts/test.sh (QUORVEX_BUILD_DIR, default
#     build) and installed side by side into a temporary prefix, found through
#     its quorvex.pc (PKG_CONFIG_PATH);
#  2. `R CMD build` and `R CMD check` of the package, which must end with no
#     ERROR and no WARNING; its tests include the comparison with the Python
#     package (python/, through /usr/bin/python3 and the same library), which
#     must run, not be skipped;
#  3. the R quick start (docs/getting-started/r.md) run as printed, after
#     `R CMD INSTALL R/`, from the repository's root.
# Temporary files are deleted however the script ends.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source scripts/deps.sh
ensure_build_packages "${QUORVEX_R_PACKAGES[@]}" \
  python3-numpy python3-scipy
build=${QUORVEX_BUILD_DIR:-build}

work=$(mktemp -d "${TMPDIR:-/tmp}/quorvex-r.XXXXXX")
trap 'rm -rf "$work"' EXIT

cmake -S . -B "$build" >/dev/null
cmake --build "$build" --target QUORVEXv1 QUORVEXlab1 -j2 >/dev/null
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
library=$(realpath "$(pkg-config --variable=libdir quorvex)/libQUORVEXv1.so")
echo "== library $(pkg-config --modversion quorvex) in $prefix"

echo "== R CMD build, R CMD check"
(cd "$work" && R CMD build --no-build-vignettes "$root/R" >build.log 2>&1) ||
  { cat "$work/build.log"; exit 1; }
tarball=$(find "$work" -maxdepth 1 -name 'quorvex_*.tar.gz' | head -n1)
# The manual needs LaTeX, which the package does not; its help pages are
# checked as Rd all the same.
(cd "$work" && PYTHONPATH="$root/python" QUORVEX_LIBRARY="$library" \
   QUORVEX_PYTHON=/usr/bin/python3 _R_CHECK_FORCE_SUGGESTS_=false \
   R CMD check --no-manual "$tarball" >check.log 2>&1) || true
status=$(grep '^Status:' "$work/check.log" || true)
if [ -z "$status" ] || grep -qE 'ERROR|WARNING' <<<"$status"; then
  cat "$work/check.log"
  tests="$work/quorvex.Rcheck/tests/testthat.Rout.fail"
  [ -f "$tests" ] && tail -n 60 "$tests"
  echo "FAILED: R CMD check: ${status:-no status}" >&2
  exit 1
fi
grep -E '(NOTE|WARNING|ERROR)$' "$work/check.log" || true
echo "R CMD check: $status"
summary=$(grep -E '\[ FAIL [0-9]+ \| WARN [0-9]+ \| SKIP [0-9]+ \| PASS [0-9]+ \]' \
  "$work/quorvex.Rcheck/tests/testthat.Rout" | tail -n1)
echo "testthat: $summary"
grep -q 'SKIP 0 ' <<<"$summary" ||
  { echo "FAILED: tests were skipped (the comparison with Python must run)" >&2; exit 1; }

echo "== R quick start, as printed"
mkdir "$work/lib"
R CMD INSTALL --library="$work/lib" R/ >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; exit 1; }
awk '/^```\{code-block\} r/ || /^```r/ {on=1; next} /^```/ {on=0} on' \
  docs/getting-started/r.md >"$work/quickstart.R"
[ -s "$work/quickstart.R" ] || { echo "FAILED: no R code in docs/getting-started/r.md" >&2; exit 1; }
R_LIBS="$work/lib" Rscript "$work/quickstart.R" >"$work/quickstart.log" 2>&1 ||
  { cat "$work/quickstart.log"; echo "FAILED: the R quick start" >&2; exit 1; }
rm -f Rplots.pdf calibration.png
echo "r-check: R CMD check clean, results equal Python's, the quick start runs"
