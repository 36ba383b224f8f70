#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs one of them for a bounded time from its seed corpus.
#   fuzz.sh build BUILD_DIR
#   fuzz.sh run BUILD_DIR TARGET SECONDS [libFuzzer options...]
# A run fails on any finding (a crash, a sanitizer report, a leak, a failed check, a time-out of 10 s
# on one input); what it found is kept in BUILD_DIR/artifacts/TARGET/ to be replayed with
#   BUILD_DIR/fuzz_TARGET BUILD_DIR/artifacts/TARGET/crash-...
set -euo pipefail
fuzz_dir=$(cd "$(dirname "$0")" && pwd)

case "${1:-}" in
  build)
    build=$2
    cmake -S "$fuzz_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >"$build.configure.log" 2>&1 ||
      { cat "$build.configure.log"; exit 1; }
    cmake --build "$build" -j 2
    ;;
  run)
    build=$2 target=$3 seconds=$4
    shift 4
    binary=$build/fuzz_$target
    [ -x "$binary" ] || { echo "FAIL $binary is missing: run '$0 build $build' first"; exit 1; }
    # Inputs found in this run go to a corpus of its own; the committed seeds are only read.
    corpus=$build/corpus/$target artifacts=$build/artifacts/$target
    rm -rf "$corpus"
    mkdir -p "$corpus" "$artifacts"
    log=$build/$target.log
    status=0 started=$(date +%s)
    "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -max_len=8192 -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "$@" "$corpus" "$fuzz_dir/corpus/$target" >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    if [ $status -ne 0 ] || [ -z "$runs" ]; then
      # The finding, its stack and the input that caused it.
      grep -v '^#[0-9]' "$log" | tail -n 60
      echo "FAIL fuzz_$target: a finding after ${runs:-?} runs (exit $status); inputs in $artifacts"
      exit 1
    fi
    echo "fuzz_$target: $runs runs in $(($(date +%s) - started)) s, $(sed -n 's/^INFO: Seed: //p' "$log" | head -1) as seed," \
      "$(sed -n 's/^stat::new_units_added: *//p' "$log") new inputs, no finding"
    ;;
  *)
    echo "usage: $0 build BUILD_DIR | run BUILD_DIR TARGET SECONDS [options]" >&2
    exit 2
    ;;
esac
