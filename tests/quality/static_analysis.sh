#!/usr/bin/env bash
# clang-tidy (with the source root's .clang-tidy) or cppcheck over the product's sources: every file of
# src/ in the native build's compile commands, and the Windows platform files (*_win32.cpp) in those of
# the i686 build. Any finding fails, except those listed in awaiting_owner.txt (printed all the same).
#   static_analysis.sh clang-tidy|cppcheck SOURCE_DIR NATIVE_BUILD_DIR WINDOWS_I686_BUILD_DIR
set -uo pipefail
tool=$1 source=$(cd "$2" && pwd) native=$3 windows=$4
here=$(cd "$(dirname "$0")" && pwd)
jobs=2

for dir in "$native" "$windows"; do
  if [ ! -f "$dir/compile_commands.json" ]; then
    echo "FAIL $dir/compile_commands.json is missing (configure that preset first)"
    exit 1
  fi
done

raw=$(mktemp)
trap 'rm -f "$raw"' EXIT

# Each tool's findings become lines "src/FILE:LINE:COLUMN: CHECK: MESSAGE", paths from the source root.
case "$tool" in
  clang-tidy)
    # The i686 compiler's own C++ headers, since clang does not know where mingw's libstdc++ lives.
    windows_args=(--extra-arg=--target=i686-w64-mingw32 --extra-arg=-nostdinc++)
    while read -r dir; do
      windows_args+=("--extra-arg=-isystem$dir")
    done < <(i686-w64-mingw32-g++ -v -E -x c++ /dev/null 2>&1 |
             sed -n '/#include <...> search starts here/,/End of search list/p' | sed -n 's/^ \(\/.*c++.*\)$/\1/p')
    native_files=$(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$native/compile_commands.json" | grep "^$source/src/" | sort -u)
    windows_files=$(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$windows/compile_commands.json" | grep "^$source/src/.*_win32\.cpp$" | sort -u)
    [ -n "$native_files" ] || { echo "FAIL no file of src/ in $native/compile_commands.json"; exit 1; }
    [ -n "$windows_files" ] || { echo "FAIL no Windows platform file in $windows/compile_commands.json"; exit 1; }
    echo "clang-tidy: $(wc -l <<<"$native_files") native files, $(wc -l <<<"$windows_files") Windows files"
    {
      xargs -P "$jobs" -n 1 clang-tidy --quiet -p "$native" <<<"$native_files"
      xargs -P "$jobs" -n 1 clang-tidy --quiet -p "$windows" "${windows_args[@]}" <<<"$windows_files"
    } >"$raw" 2>&1
    grep -E '^/[^ ]+:[0-9]+:[0-9]+: (warning|error): ' "$raw" |
      sed -E "s#^$source/##; s#^([^ ]+): (warning|error): (.*) \[([^],]+)(,-warnings-as-errors)?\]\$#\1: \4: \3#" |
      sort -u >"$raw.findings"
    # A file clang could not compile is a finding too, whatever the checks said.
    if grep -q 'clang-diagnostic-error\|Error while processing' "$raw"; then
      grep 'clang-diagnostic-error\|Error while processing' "$raw" | sort -u >>"$raw.findings"
    fi
    ;;
  cppcheck)
    common=(--enable=warning,style,performance,portability --inline-suppr -j "$jobs" -q
            "--suppressions-list=$here/cppcheck.suppressions" --error-exitcode=0
            --template='{file}:{line}:{column}: {id}: {message}')
    # With --error-exitcode=0 a nonzero status means cppcheck itself failed, not that it found something.
    if ! { cppcheck "${common[@]}" "--project=$native/compile_commands.json" "--file-filter=$source/src/*" &&
           cppcheck "${common[@]}" --platform=win32A "--project=$windows/compile_commands.json" \
             '--file-filter=*_win32.cpp'; } >"$raw" 2>&1; then
      echo "FAIL cppcheck did not run through:"
      cat "$raw"
      exit 1
    fi
    # The Windows compile commands name files relative to the source root, the native ones absolutely.
    sed -E "s#^$source/##" "$raw" | grep -E '^[^ ]+:[0-9]+:[0-9]+: ' | sort -u >"$raw.findings"
    ;;
  *)
    echo "usage: $0 clang-tidy|cppcheck SOURCE_DIR NATIVE_BUILD_DIR WINDOWS_I686_BUILD_DIR" >&2
    exit 2
    ;;
esac

status=0
failing=$(cat "$raw.findings")
while read -r entry_tool file check; do
  [ "$entry_tool" = "$tool" ] || continue
  matching=$(grep -E "^$file:[0-9]+:[0-9]+: $check: " "$raw.findings")
  if [ -z "$matching" ]; then
    # Fixed meanwhile: the entry must go, so the list never excuses a new finding later.
    echo "FAIL awaiting_owner.txt lists $file $check, which $tool no longer finds: remove the entry"
    status=1
    continue
  fi
  echo "awaiting owner ($file, $check):"
  sed 's/^/  /' <<<"$matching"
  failing=$(grep -vE "^$file:[0-9]+:[0-9]+: $check: " <<<"$failing")
done < <(grep -v '^#' "$here/awaiting_owner.txt")

if [ -n "$failing" ]; then
  echo "FAIL $tool findings:"
  sed 's/^/  /' <<<"$failing"
  status=1
fi
rm -f "$raw.findings"
[ $status -eq 0 ] && echo "$tool: no findings in src/"
exit $status
