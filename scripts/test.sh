#!/usr/bin/env bash
# Builds the library and runs the test suite under ctest, then the Python
# package's tests under pytest.
#   QUORVEX_BUILD_DIR   build folder (default: build)
#   QUORVEX_CMAKE_ARGS  extra CMake arguments (e.g. -DQUORVEX_SANITIZE=ON)
#   QUORVEX_PYTEST=0    skip pytest (a sanitizer build cannot be loaded by Python)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_build_packages python3-numpy python3-scipy \
                "${QUORVEX_PYTHON_PACKAGES[@]}" "${QUORVEX_REPORT_PACKAGES[@]}"
build=${QUORVEX_BUILD_DIR:-build}
# shellcheck disable=SC2086
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release ${QUORVEX_CMAKE_ARGS:-}
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
if [ "${QUORVEX_PYTEST:-1}" != 0 ] && [[ "${QUORVEX_CMAKE_ARGS:-}" != *QUORVEX_SANITIZE=ON* ]]; then
  QUORVEX_LIBRARY="$(cd "$build" && pwd)/libQUORVEXv1.so" \
    /usr/bin/python3 -m pytest -p no:cacheprovider python/tests
fi
