#!/usr/bin/env bash
# The usage way of the native program, whole process: wall and CPU time beside a minimal C program
# that writes the same bytes to standard output and reads one line of standard input, both with
# standard input from /dev/null, run alternately by adsl_process_timer.
#   bench/usage_way.sh [RUNS] [BUILD_DIR]      (defaults: 2000, build/native-release)
set -euo pipefail
runs=${1:-2000}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$root/build/native-release}
program=$build/adsl timer=$build/bench/adsl_process_timer
for file in "$program" "$timer"; do
  [ -x "$file" ] || { echo "$file is missing: cmake --preset native-release && cmake --build --preset native-release" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The reference writes exactly what the program writes, so both hand the kernel the same bytes.
"$program" </dev/null >"$work/expected"
{
  echo '#include <stdio.h>'
  echo 'static const unsigned char text[] = {'
  od -An -v -tu1 "$work/expected" | tr -s ' \n' ',,' | sed 's/^,//; s/,$//'
  echo '};'
  echo 'int main(void) {'
  echo '  char line[2049];'
  echo '  fwrite(text, 1, sizeof text, stdout);'
  echo '  if (fgets(line, sizeof line, stdin) == NULL) line[0] = 0;'
  echo '  return 0;'
  echo '}'
} >"$work/reference.c"
cc -O2 -o "$work/reference" "$work/reference.c"
"$work/reference" </dev/null >"$work/written"
cmp -s "$work/expected" "$work/written" || { echo "the reference does not write the program's bytes" >&2; exit 1; }

echo "usage way, $(wc -c <"$work/expected") bytes written; adsl vs a C program writing the same bytes"
"$timer" "$runs" "$program" --reference "$work/reference"
