#!/usr/bin/env bash
# Builds the library and runs the example host program.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages "${QUORVEX_BUILD_PACKAGES[@]}"
build=${QUORVEX_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j"$(nproc)" --target calibration_demo
"$build/examples/calibration_demo"
