#!/usr/bin/env bash
# The route monitor, without a window (quokka-monitor-rounds), beside mtr in namespace networks:
#   mtr    1000 rounds at 0.01 s and `mtr --report -c 1000 -i 0.01 -Z 1` at once on a network that
#          loses a fifth at one router and balances two paths at another (monitor_lab.sh):
#          each hop's loss within 8 points of mtr's and its average within 5 ms (mtr times
#          answers in user space after its own wake-ups: on a busy machine its averages ran
#          2 to 3 ms above the monitor's, on a quiet one within 2 ms), both
#          addresses at the balanced hop, the destination found
#   bench  figures: processor time per round on a ten-hop route (chain_lab.sh) at 1 s beside
#          mtr's over the same rounds, and the memory of the statistics over 10,000 rounds
set -uo pipefail

scenario=$1
bin=${QUOKKA_TEST_BIN:?}
here=$(cd "$(dirname "$0")" && pwd)

source "$here/lab_lib.sh"
require_namespaces
make_work

# Runs NAME's command in the client, its output in $work/NAME, and its processor time with
# its children's (mtr's packet helper) in $work/NAME.cpu as "USER_MS SYSTEM_MS".
timed() { # timed NAME COMMAND...
  in_client bash -c '"${@:2}" > "$1"; times > "$1.cpu"' _ "$work/$1" "${@:2}"
  awk 'NR == 2 { for (i = 1; i <= 2; ++i) { split($i, t, /[ms]/); ms[i] = (t[1] * 60 + t[2]) * 1000 }
         printf "%d %d\n", ms[1], ms[2] }' "$work/$1.cpu" > "$work/$1.ms"
}

# Per hop of the monitor's report lines: "TTL SENT RECEIVED LOSS% AVG ADDRESS,ADDRESS..." with
# the rows of one TTL taken together, as mtr counts a hop.
our_hops() {
  awk -F'\t' '$1 == "monitor" { sent[$2] += $4; got[$2] += $5; if ($8 != "-") sum[$2] += $8 * $5
                                # (probes lost at a TTL before any answer there count in a row without one)
                                if ($3 != "") addresses[$2] = addresses[$2] (addresses[$2] == "" ? "" : ",") $3
                                if ($2 > last) last = $2 }
              END { for (t = 1; t <= last; ++t)
                      printf "%d %d %d %.1f %s %s\n", t, sent[t], got[t], 100 * (sent[t] - got[t]) / sent[t],
                             got[t] ? sprintf("%.1f", sum[t] / got[t]) : "-", addresses[t] }' "$1"
}
# The same of mtr's report: its hop lines, and the lines of a hop's further addresses.
their_hops() {
  awk '$1 ~ /^[0-9]+\.\|--$/ { if (hop) print line; hop = $1 + 0; sub(/%/, "", $3)
                                line = sprintf("%d %d - %.1f %s %s", hop, $4, $3, $6, $2); next }
       hop && NF == 1 { line = line "," $1 }
       END { if (hop) print line }' "$1"
}

case "$scenario" in
mtr)
  lab_up "$here/monitor_lab.sh" "qm$$" "$bin/quokka-delaywire" 30
  # Both at once, so that both meet the same losses and the same busy machine. mtr gives a
  # probe up after 1 s (-Z), as the monitor does at this interval: with its default of 10 s,
  # the probes lost in those 10 s outnumber what its packet helper keeps in flight, and it
  # stops early ("Probes exhausted").
  timed ours "$bin/quokka-monitor-rounds" 203.0.113.2 1000 10 & ours=$!
  timed theirs mtr --report -n -c 1000 -i 0.01 -Z 1 203.0.113.2 & theirs=$!
  wait "$ours" "$theirs"
  echo "--- the monitor, 1000 rounds at 0.01 s"
  { printf 'ttl\taddress\tsent\treceived\tloss%%\tlast\tavg\tbest\tworst\tstdev\tjitter\n'
    grep '^monitor' "$work/ours" | cut -f2-12; } | expand -t 5,21,27,36,43,50,57,64,71,78
  echo "--- mtr --report -n -c 1000 -i 0.01 -Z 1"
  cat "$work/theirs"
  our_hops "$work/ours" > "$work/ours.hops"
  their_hops "$work/theirs" > "$work/theirs.hops"
  echo "--- per hop, the monitor | mtr (ttl sent received loss% avg addresses)"
  paste -d'|' "$work/ours.hops" "$work/theirs.hops"

  check "mtr: sent 1000 probes to each hop" "1000 1000 1000 1000 1000" "$(cut -d' ' -f2 "$work/theirs.hops" | xargs)"
  check "mtr: both list the same hops" "$(cut -d' ' -f1 "$work/theirs.hops" | xargs)" \
    "$(cut -d' ' -f1 "$work/ours.hops" | xargs)"
  # ttl | the hop's loss as the lab makes it | its addresses, in the order of the text
  rows=("1|0|192.0.2.1" "2|20|198.51.100.2" "3|36|198.51.100.6" "4|36|198.51.100.10,198.51.100.14"
        "5|36|203.0.113.2")
  for row in "${rows[@]}"; do
    IFS='|' read -r ttl made addresses <<< "$row"
    read -r _ _ _ our_loss our_avg our_addresses < <(awk -v t="$ttl" '$1 == t' "$work/ours.hops")
    read -r _ _ _ their_loss their_avg _ < <(awk -v t="$ttl" '$1 == t' "$work/theirs.hops")
    check "mtr: hop $ttl: loss ${our_loss:-?}% and avg ${our_avg:-?} ms, mtr's ${their_loss:-?}% and ${their_avg:-?} ms" \
      "within 8 points and 5 ms" \
      "$(awk -v a="$our_loss" -v b="$their_loss" -v x="$our_avg" -v y="$their_avg" 'BEGIN {
           d = a - b; e = x - y; if (a == "" || b == "" || x == "-" || y == "") { print "missing"; exit }
           print (d <= 8 && d >= -8 && e <= 5 && e >= -5) ? "within 8 points and 5 ms" : "off by " d " points, " e " ms" }')"
    # The lab's own loss, so that two tools that both miss it cannot agree on nothing.
    check "mtr: hop $ttl loses about $made% as the lab makes it" "yes" \
      "$(awk -v a="$our_loss" -v m="$made" 'BEGIN { print (a != "" && a - m <= 8 && m - a <= 8) ? "yes" : a }')"
    check "mtr: hop $ttl answered by $addresses" "$addresses" \
      "$(tr ',' '\n' <<< "$our_addresses" | sort -V | paste -sd,)"
  done
  check "mtr: the destination's TTL found, nothing probed beyond it" "5 203.0.113.2" \
    "$(grep '^monitor' "$work/ours" | tail -n1 | cut -f2,3 | tr '\t' ' ')"
  ;;
bench)
  lab_up "$here/chain_lab.sh" "qb$$"
  rounds=15
  timed ours "$bin/quokka-monitor-rounds" 198.51.100.38 "$rounds" 1000 & ours=$!
  timed theirs mtr --report -n -c "$rounds" -i 1 198.51.100.38 & theirs=$!
  wait "$ours" "$theirs"
  check "bench: the monitor finds the ten hops" "10 198.51.100.38" \
    "$(grep '^monitor' "$work/ours" | tail -n1 | cut -f2,3 | tr '\t' ' ')"
  check "bench: mtr finds the ten hops" "10 198.51.100.38" "$(their_hops "$work/theirs" | tail -n1 | cut -d' ' -f1,6)"
  figures() { # figures WHO USER_MS SYSTEM_MS
    awk -v who="$1" -v u="$2" -v s="$3" -v n="$rounds" 'BEGIN {
      printf "%s: %d rounds of a ten-hop route at 1 s: processor time %d ms (user %d, system %d), %.2f ms per round, %.3f%% of one core\n",
             who, n, u + s, u, s, (u + s) / n, (u + s) / (n * 10) }'
  }
  read -r _ _ loop_user loop_system < <(grep '^cpu' "$work/ours")
  figures "the monitor, its rounds only" "$loop_user" "$loop_system"
  figures "the monitor, whole process" $(cat "$work/ours.ms")
  figures "mtr, whole process with its packet helper" $(cat "$work/theirs.ms")
  echo "statistics after made-up rounds of 29 hops, one answering from two addresses (heap in MiB):"
  "$bin/quokka-monitor-memory" 10000 29
  ;;
*)
  echo "unknown scenario $scenario"; exit 2 ;;
esac

[ "$failures" -eq 0 ] || exit 1
