#!/usr/bin/env bash
# Memcheck of the release program on the usage way, standard input at its end: with no argument, one
# and three. Any memory error, and any block definitely or indirectly lost, fails. (Still-reachable
# blocks are allowed: the platform services are never destroyed, by design. The dial way is not run
# here: it ends the process through terminate_program, which by design releases nothing, the argument
# array included.)
#   valgrind_usage_way.sh PATH_TO_ADSL
set -uo pipefail
program=$1
[ -x "$program" ] || { echo "FAIL $program is missing (build the native-release preset first)"; exit 1; }
log=$(mktemp) output=$(mktemp)
trap 'rm -f "$log" "$output"' EXIT
status=0
for arguments in "" "one" "one two three"; do
  # shellcheck disable=SC2086 # the arguments are split on purpose
  valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite,indirect \
    --errors-for-leak-kinds=definite,indirect --error-exitcode=99 --log-file="$log" \
    "$program" $arguments </dev/null >"$output" 2>&1
  code=$?
  summary=$(grep -E 'ERROR SUMMARY|definitely lost|indirectly lost|All heap blocks were freed' "$log" |
            sed 's/^==[0-9]*== *//' | tr '\n' ' ')
  if [ $code -ne 0 ] || [ ! -s "$output" ]; then
    echo "FAIL adsl ${arguments:-(no argument)}: exit $code"
    cat "$log"
    status=1
  else
    echo "adsl ${arguments:-(no argument)}: exit 0, $(wc -c <"$output") bytes written; $summary"
  fi
done
exit $status
