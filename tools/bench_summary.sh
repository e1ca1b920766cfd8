#!/usr/bin/env bash
# Prints what the benchmarks of the last CTest run in BUILD printed (tests labelled bench),
# so that their figures and ratios stand at the end of `make test` whether they passed or not.
set -uo pipefail
build=${1:-build}
log="$build/Testing/Temporary/LastTest.log"
[ -f "$log" ] || exit 0
# Read before asking CTest for the names: any CTest run, a listing too, rewrites the log.
run=$(cat "$log")
names=$(ctest --test-dir "$build" -N -L bench | sed -n 's/^ *Test *#[0-9]*: //p')
[ -n "$names" ] || exit 0
echo
echo "Benchmark figures of this run:"
awk -v names="$names" '
  BEGIN { n = split(names, list, "\n"); for (i = 1; i <= n; ++i) wanted[list[i]] = 1 }
  /^[0-9]+\/[0-9]+ Test: / { name = $3 }
  /^Output:$/ { if (name in wanted) { printing = 1; print "== " name; getline; next } }
  /^<end of output>$/ { printing = 0 }
  printing { print }
' <<< "$run"
