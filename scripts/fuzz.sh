#!/usr/bin/env bash
# Fuzzing of the six entry points: libFuzzer targets (tests/fuzz) built with
# clang under AddressSanitizer and UndefinedBehaviorSanitizer in build-fuzz/.
#
#   bash scripts/fuzz.sh                        # every target for 25 s (CI)
#   bash scripts/fuzz.sh SECONDS [TARGET...]    # SECONDS = 0: until a finding or Ctrl-C
#
# Targets: olspfit glspfit polyeval ipval linear_conv ipval_degree1.
# Each target first runs, once each, the reproducers of earlier findings
# (tests/fuzz/regressions/TARGET) and the committed seeds
# (tests/fuzz/corpus/TARGET), then fuzzes from them; inputs that reach new
# code are kept in build-fuzz/corpus/TARGET (the committed corpus is left as
# it is).  A finding (a sanitizer report, a failed check of the target, a
# crash, a call longer than 5 s or more than 2 GB of memory) stops the run
# with the input saved as build-fuzz/findings/TARGET/crash-... (or timeout-,
# oom-, leak-); the script then exits non-zero.  Replay one with
#   build-fuzz/tests/fuzz/fuzz_TARGET FILE
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_build_packages "${QUORVEX_CLANG_PACKAGES[@]}"

seconds=${1:-25}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(olspfit glspfit polyeval ipval linear_conv ipval_degree1)

build=build-fuzz
cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEX_FUZZ=ON -DQUORVEX_TESTS=OFF \
  -DQUORVEX_BENCH=OFF -DQUORVEX_EXAMPLES=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target $(printf 'fuzz_%s ' "${targets[@]}")

# Leak checking stays on; a finding aborts at once.
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for t in "${targets[@]}"; do
  bin="$build/tests/fuzz/fuzz_$t"
  seeds="tests/fuzz/corpus/$t"
  regressions="tests/fuzz/regressions/$t"
  findings="$build/findings/$t"
  mkdir -p "$build/corpus/$t" "$findings"
  dirs=("$build/corpus/$t")
  for d in "$seeds" "$regressions"; do [ -d "$d" ] && dirs+=("$d"); done
  # The committed inputs, each once.  Standard output is closed for the
  # target (-close_fd_mask=1): the line search's give-up line goes there.
  inputs=""
  [ ${#dirs[@]} -gt 1 ] && inputs=$(find "${dirs[@]:1}" -type f | sort)
  if [ -n "$inputs" ]; then
    # shellcheck disable=SC2086
    if ! "$bin" -close_fd_mask=1 -timeout=5 -rss_limit_mb=2048 -malloc_limit_mb=2048 \
         $inputs > "$build/findings/$t.replay.log" 2>&1; then
      echo "FAILED: fuzz_$t on a committed input; see $build/findings/$t.replay.log" >&2
      tail -n 30 "$build/findings/$t.replay.log" >&2
      status=1
      continue
    fi
  fi
  echo "fuzz_$t: $(echo "$inputs" | grep -c .) committed inputs pass; fuzzing for ${seconds}s"
  if ! "$bin" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 -malloc_limit_mb=2048 \
       -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$findings/" \
       "${dirs[@]}" > "$build/findings/$t.log" 2>&1; then
    echo "FAILED: fuzz_$t found an input; see $build/findings/$t.log and $findings/" >&2
    tail -n 40 "$build/findings/$t.log" >&2
    status=1
    continue
  fi
  grep -E "^stat::number_of_executed_units|^stat::new_units_added" "$build/findings/$t.log" |
    tr '\n' ' ' | sed "s/^/fuzz_$t: /"
  echo
done
exit "$status"
