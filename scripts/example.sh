#!/usr/bin/env bash
# Builds the library, runs the example host program, then the quorvex command line
# on the example standards and samples, writing the report into $build/example-report/.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_build_packages python3-numpy python3-scipy python3-matplotlib
build=${QUORVEX_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j"$(nproc)" --target calibration_demo
"$build/examples/calibration_demo"

# The same standards and samples from CSV files, through the command line.
report="$build/example-report"
echo
echo "quorvex fit examples/standards.csv --samples examples/samples.csv --degree auto ..."
PYTHONPATH="$PWD/python" QUORVEX_LIBRARY="$(cd "$build" && pwd)/libQUORVEXv1.so" \
  /usr/bin/python3 -m quorvex fit examples/standards.csv --samples examples/samples.csv \
  --degree auto --interval -0.5 10.5 --limits --monte-carlo 10000 --seed 1 \
  --title "Example calibration" --out "$report"
echo "report: $report/report.html   picture: $report/calibration.png"
