#!/usr/bin/env bash
# Nothing in the sources, build files or test scripts may switch LeakSanitizer off: no detect_leaks
# option, no LSAN_OPTIONS, no default-options hook, no disabling or ignoring call. (The canary test
# proves the test environment leaves it on; this keeps any one test or program from opting out.)
#   leak_detection_on.sh SOURCE_DIR
set -uo pipefail
source=$1
pattern='detect_leaks|LSAN_OPTIONS|__lsan_(disable|ignore_object|default_options|do_leak_check)|__asan_default_options'
found=$(grep -rInE "$pattern" "$source" --exclude-dir=.git --exclude-dir=build --exclude-dir='build-*' \
  --exclude=leak_detection_on.sh)
if [ -n "$found" ]; then
  echo "FAIL leak detection is switched off or bypassed here:"
  echo "$found"
  exit 1
fi
echo "leak detection: nothing in $source switches it off"
