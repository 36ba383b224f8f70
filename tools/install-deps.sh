#!/usr/bin/env bash
# Installs the Debian packages a build or the tests need, only when some are missing.
#   tools/install-deps.sh build   the native build alone
#   tools/install-deps.sh all     every preset and every test
set -euo pipefail

build=(g++ cmake ninja-build)
all=("${build[@]}" googletest libgtest-dev libbenchmark-dev
     g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
     wine wine64 ppp qemu-system-x86
     clang libclang-rt-14-dev clang-tidy cppcheck valgrind)

case "${1:-all}" in
  build) wanted=("${build[@]}") ;;
  all) wanted=("${all[@]}") ;;
  *) echo "usage: $0 [build|all]" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
"${as_root[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
