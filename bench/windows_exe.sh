#!/usr/bin/env bash
# Size and imported DLLs of the stripped Windows exes (tests/wine/check_windows_exe.sh, which also
# checks them), beside the reference: a minimal console program built with the same compiler and
# the same static, stripped, size-optimised link, writing a line with fprintf and reading one with
# fgets, as the usage way does.
#   bench/windows_exe.sh [I686_BUILD_DIR] [X86_64_BUILD_DIR]   (defaults: build/windows-i686, build/windows-x86_64)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
i686=${1:-$root/build/windows-i686} x64=${2:-$root/build/windows-x86_64}
"$root/tests/wine/check_windows_exe.sh" "$i686/adsl.exe" "$x64/adsl.exe"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/minimal.c" <<'C'
#include <stdio.h>
int main(void) {
  char line[2049];
  fprintf(stdout, "%s", "usage\r\n");
  if (fgets(line, sizeof line, stdin) == NULL) line[0] = 0;
  return 0;
}
C
for arch in i686 x86_64; do
  dir=$i686
  [ $arch = x86_64 ] && dir=$x64
  $arch-w64-mingw32-gcc -Os -s -static -o "$work/minimal-$arch.exe" "$work/minimal.c"
  ours=$(stat -c %s "$dir/adsl.exe") reference=$(stat -c %s "$work/minimal-$arch.exe")
  imports=$($arch-w64-mingw32-objdump -p "$work/minimal-$arch.exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ')
  awk -v arch=$arch -v a="$ours" -v b="$reference" -v imports="$imports" 'BEGIN {
    printf "%-6s adsl.exe %d bytes (%.1f KiB), minimal C program %d bytes (%.1f KiB, imports %s): %.2fx\n",
           arch, a, a / 1024, b, b / 1024, imports, a / b }'
done
