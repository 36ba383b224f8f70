#!/usr/bin/env bash
# The shipped exes: right machine type, console subsystem, stripped, and nothing but system DLLs.
set -u
i686=$1 x64=$2
allowed='^(KERNEL32|USER32|RASAPI32|msvcrt)\.dll$'
status=0
shopt -s nocasematch  # import tables spell DLL names in either case

check() {
  local exe=$1 format=$2 objdump=$3
  if [ ! -f "$exe" ]; then echo "FAIL $exe is missing (build its preset first)"; status=1; return; fi
  local headers
  headers=$($objdump -p "$exe")
  grep -q "file format $format" <<<"$headers" || { echo "FAIL $exe is not $format"; status=1; }
  grep -Eq 'Subsystem[[:space:]]+0*3[[:space:]]' <<<"$headers" || { echo "FAIL $exe is not a console program"; status=1; }
  if $objdump -h "$exe" | grep -q '\.debug'; then echo "FAIL $exe carries debug sections"; status=1; fi
  local dll
  while read -r dll; do
    if [[ ! $dll =~ $allowed ]]; then echo "FAIL $exe imports $dll"; status=1; fi
  done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
  echo "$exe: $(stat -c %s "$exe") bytes ($(( ($(stat -c %s "$exe") + 1023) / 1024 )) KiB), imports:" \
    $(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
}

check "$i686" pei-i386 i686-w64-mingw32-objdump
check "$x64" pei-x86-64 x86_64-w64-mingw32-objdump
[ $status -eq 0 ] && echo "windows exe checks passed"
exit $status
