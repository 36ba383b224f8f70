#!/usr/bin/env bash
# The dialer's own overhead before it dials: the time from process start to the RasDialA call of the
# test build over the simulated RAS service (adsl_simulated), next to the same program's usage way from
# start to exit with standard input from /dev/null, the product's usage way for reference, and /bin/true
# as the floor that starting any process costs on this machine.
#
#   bench/start_to_dial.sh [RUNS]        (default 7; each dial-way run also sits out the 3 s pause)
#
# Builds a release tree with the tests' targets in build/bench-start-to-dial, or uses the build tree
# named by ADSL_BENCH_BUILD (which must hold tests/app/adsl_simulated and adsl). Start is taken in the
# child right before it execs the program; the dial moment is written by the test build when RasDialA
# is entered (CLOCK_REALTIME); the end of the usage way is taken when the child has been reaped.
set -euo pipefail
runs=${1:-7}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ADSL_BENCH_BUILD:-}
if [ -z "$build" ]; then
  build=$root/build/bench-start-to-dial
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DADSL_TESTS=ON -DADSL_SANITIZE=OFF >/dev/null
  cmake --build "$build" -j2 --target adsl_simulated adsl >/dev/null
fi
simulated=$build/tests/app/adsl_simulated
product=$build/adsl
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'entry dsl\n' >"$work/scenario.txt"

# "seconds.fraction" (6 or 9 decimals) in microseconds.
micros() {
  local seconds=${1%.*} fraction=${1#*.}000000
  echo $((10#$seconds * 1000000 + 10#${fraction:0:6}))
}

median() {
  sort -n | awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.0f", m }'
}

# Runs PROGRAM ARGS... and prints start-to-dial in microseconds.
start_to_dial() {
  rm -f "$work/start" "$work/dial"
  (
    export ADSL_SIM_SCENARIO=$work/scenario.txt ADSL_SIM_RECORD=$work/record.txt ADSL_SIM_DIAL_TIME=$work/dial
    echo "$EPOCHREALTIME" >"$work/start"
    exec "$@"
  ) </dev/null >/dev/null
  [ -s "$work/dial" ] || { echo "no RasDialA call recorded" >&2; exit 1; }
  echo $(($(micros "$(cat "$work/dial")") - $(micros "$(cat "$work/start")")))
}

# Runs PROGRAM ARGS... and prints start-to-exit in microseconds.
start_to_exit() {
  rm -f "$work/start"
  (
    export ADSL_SIM_SCENARIO=$work/scenario.txt ADSL_SIM_RECORD=$work/record.txt
    echo "$EPOCHREALTIME" >"$work/start"
    exec "$@"
  ) </dev/null >/dev/null
  local end=$EPOCHREALTIME
  echo $(($(micros "$end") - $(micros "$(cat "$work/start")")))
}

dial=() usage=() product_usage=() floor=()
for ((i = 0; i < runs; i++)); do
  dial+=("$(start_to_dial "$simulated" user password)")
  usage+=("$(start_to_exit "$simulated")")
  product_usage+=("$(start_to_exit "$product")")
  floor+=("$(start_to_exit /bin/true)")
done

report() {
  local name=$1
  shift
  printf '%-44s median %6d us   (runs: %s)\n' "$name" "$(printf '%s\n' "$@" | median)" "$*"
}
echo "$runs runs, build $build"
report "adsl_simulated, start to RasDialA" "${dial[@]}"
report "adsl_simulated, usage way, start to exit" "${usage[@]}"
report "adsl, usage way, start to exit" "${product_usage[@]}"
report "/bin/true, start to exit (the floor)" "${floor[@]}"
