#!/usr/bin/env bash
# Runs every test executable of a plain (unsanitized) build under valgrind memcheck; any error or
# leaked block fails it. Usage: scripts/valgrind-tests.sh BUILD
set -euo pipefail
build=${1:?usage: scripts/valgrind-tests.sh BUILD}
status=0
for t in "$build"/tests/*_test "$build"/tests/c99_header_check "$build"/tests/readme_example_c; do
  [ -x "$t" ] || continue
  if valgrind --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect -q "$t" >"$t.valgrind.log" 2>&1; then
    echo "$(basename "$t"): clean"
  else
    echo "$(basename "$t"): FAILED, see $t.valgrind.log"; status=1
  fi
done
exit $status
