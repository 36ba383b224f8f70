#!/usr/bin/env bash
# Builds the native dialer and runs it: ./run.sh ACCOUNT PASSWORD
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh build >&2
cmake --preset native-release >/dev/null
cmake --build --preset native-release >/dev/null
exec build/native-release/adsl "$@"
