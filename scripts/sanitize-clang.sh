#!/usr/bin/env bash
# The test suite built with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer, in build-clang-sanitize/.  Beside the g++
# sanitizer build: clang also reports pointer arithmetic that wraps around
# (pointer-overflow), which g++ lets pass.  The tests link Debian's
# GoogleTest, built with g++; both compilers share libstdc++.
#
#   bash scripts/sanitize-clang.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages "${QUORVEX_CLANG_PACKAGES[@]}"
QUORVEX_BUILD_DIR=${QUORVEX_BUILD_DIR:-build-clang-sanitize} QUORVEX_PYTEST=0 \
QUORVEX_CMAKE_ARGS="-DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEX_SANITIZE=ON -DQUORVEX_BENCH=OFF" \
  bash scripts/test.sh
