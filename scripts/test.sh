#!/usr/bin/env bash
# Builds the library and runs the test suite under ctest.
#   QUORVEX_BUILD_DIR   build folder (default: build)
#   QUORVEX_CMAKE_ARGS  extra CMake arguments (e.g. -DQUORVEX_SANITIZE=ON)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages "${QUORVEX_BUILD_PACKAGES[@]}" python3-numpy python3-scipy
build=${QUORVEX_BUILD_DIR:-build}
# shellcheck disable=SC2086
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release ${QUORVEX_CMAKE_ARGS:-}
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
