#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh all
for preset in windows-i686 windows-x86_64 native-release native-debug; do
  cmake --preset "$preset"
  cmake --build --preset "$preset"
done
ctest --preset native-debug
