#!/usr/bin/env bash
# Figures of a ten-hop exploration (chain_lab.sh): wall time, the program's processor time,
# and the overhead beyond its probes and two-second waits. Prints; fails only if the run does.
set -uo pipefail

build=${QUOKKA_BUILD_DIR:?}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lab_lib.sh"
require_namespaces

make_work
lab_up "$here/chain_lab.sh" "qc$$"

run() { in_client env HOME="$work" XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen "$@"; }
run "$build/quokka-quokka" --home 422,220 || exit 1
start=$(date +%s%N)
# The inner shell reports the processor time of its one child, the program.
run bash -c '"$@" > "'"$work"'/out" 2>/dev/null; times > "'"$work"'/times"' _ \
  "$build/quokka-quokka" --geo-table /dev/null --explore target.example --quit --report
wall_ms=$(( ($(date +%s%N) - start) / 1000000 ))

hops=$(grep -c $'^trace\tHop' "$work/out")
check "ten hops listed, then the completion line" "10 Route Complete" \
  "$hops $(tail -n1 "$work/out" | cut -f2 | cut -c1-14)"
probes_ms=$(awk -F'\t' '/^trace\tHop/ { split(substr($2, 11, 10), a, "ms"); s += a[1] } END { print s }' "$work/out")
read -r user_cpu system_cpu < <(tail -n1 "$work/times")
echo "ten-hop run: wall ${wall_ms} ms, probes ${probes_ms} ms, waits $((hops * 2000)) ms"
echo "overhead beyond probes and waits (process start included): $((wall_ms - probes_ms - hops * 2000)) ms"
echo "processor time of the program: user ${user_cpu}, system ${system_cpu}, against ${wall_ms} ms of wall time"
echo "(taken beside other tests; load average over the last minute: $(cut -d" " -f1 /proc/loadavg))"
[ "$failures" -eq 0 ]
