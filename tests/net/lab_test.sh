#!/usr/bin/env bash
# Route-tracing tests in a namespace network of their own (lab.sh):
#   raw        the tracer on a raw socket (root), with stray pings in the client namespace
#   ping       the tracer on a ping socket, as an unprivileged user, with stray pings
#   denied     neither socket allowed: every probe fails, the program says why in one line
#   outcomes   probes that cannot be sent (a firewall rule, no route, a destination the helper
#              refuses): each run lists the one line that says why, by each kind of socket
#   traceroute the same hops as Debian's traceroute -I
#   rounds     whole rounds of probes in flight together, overlapping, on a raw socket (root),
#              a ping socket (unprivileged) and through the probe helper (unprivileged, no
#              ping sockets, the helper given the capability on a copy): every round finds
#              traceroute -I's hops
#   explore    the whole program, offscreen, in the client namespace
#   bench      figures: the overhead of a run beyond its probes and waits, and its CPU time
# and over IPv6 (lab6.sh):
#   traceroute6 the tracer by raw socket (root), ping socket and probe helper (unprivileged,
#              the helper with ping sockets closed) finds traceroute -6 -I's hops
#   rounds6    whole rounds by each of them find the same hops; a router that drops a third
#              of the echo requests it forwards shows as the target's loss, in some rounds
#              only, in rounds and in the route monitor's session
set -uo pipefail

scenario=$1
bin=${QUOKKA_TEST_BIN:?}
build=${QUOKKA_BUILD_DIR:?}
here=$(cd "$(dirname "$0")" && pwd)
delay_ms=30

source "$here/lab_lib.sh"
require_namespaces

make_work
case "$scenario" in
  *6) lab_up "$here/lab6.sh" "q6$$" ;;
  *) lab_up "$here/lab.sh" "qq$$" "$bin/quokka-delaywire" "$delay_ms" ;;
esac

allow_ping_sockets() { in_client sysctl -qw net.ipv4.ping_group_range="$1"; }


start_strays() {
  # Another process pinging the same hosts, directly and with short TTLs, during the trace.
  in_client ping -q -i 0.2 203.0.113.2 >/dev/null 2>&1 & helpers+=($!)
  in_client ping -q -i 0.2 -t 1 203.0.113.2 >/dev/null 2>&1 & helpers+=($!)
  in_client ping -q -i 0.2 -t 3 203.0.113.3 >/dev/null 2>&1 & helpers+=($!)
  sleep 0.3
}

hops() { awk 'NR > 1 { printf "%s ", $2 }' <<< "$1"; }

# Probing TARGET: kind, the hop addresses, and the round-trip times beyond the wire.
check_trace() { # check_trace KIND OUTPUT_OF_REACHED OUTPUT_OF_SILENT
  check "$1: socket kind" "kind $1" "$(head -n1 <<< "$2")"
  check "$1: hops to the target, r2 silent" "192.0.2.1 Error 198.51.100.6 203.0.113.2 " "$(hops "$2")"
  local slow
  slow=$(awk -v d=$((2 * delay_ms)) 'NR > 3 && $2 != "Error" && ($3 < d || $3 >= 400) { print }' <<< "$2")
  check "$1: hops past the delaying wire take at least ${delay_ms}ms each way" "" "$slow"
  check "$1: a target that never answers costs 29 probes" \
    "192.0.2.1 Error 198.51.100.6$(printf ' Error%.0s' $(seq 26)) " "$(hops "$3")"
}

case "$scenario" in
raw)
  start_strays
  check_trace raw "$(in_client "$bin/quokka-probe-route" 203.0.113.2)" \
    "$(in_client "$bin/quokka-probe-route" 203.0.113.3)"
  ;;
ping)
  start_strays
  allow_ping_sockets "0 2147483647"
  cp "$bin/quokka-probe-route" "$work/" && chmod 755 "$work/quokka-probe-route"
  check_trace ping "$(as_nobody "$work/quokka-probe-route" 203.0.113.2)" \
    "$(as_nobody "$work/quokka-probe-route" 203.0.113.3)"
  ;;
denied)
  allow_ping_sockets "1 0"
  cp "$bin/quokka-probe-route" "$work/" && chmod 755 "$work/quokka-probe-route"
  out=$(as_nobody "$work/quokka-probe-route" 203.0.113.2 3)
  check "denied: no socket" "kind none" "$(head -n1 <<< "$out")"
  check "denied: every probe fails" "Error Error Error " "$(hops "$out")"
  # The helper beside the program has no capability here, so it cannot serve either.
  cp "$build/quokka-quokka" "$build/quokka-quokka-probe" "$work/" && chmod 755 "$work/quokka-quokka" "$work/quokka-quokka-probe"
  mkdir "$work/user" && chown nobody:nogroup "$work/user"
  user_env=(env HOME="$work/user" XDG_CONFIG_HOME="$work/user/config" QT_QPA_PLATFORM=offscreen)
  as_nobody "${user_env[@]}" "$work/quokka-quokka" --home 422,220
  out=$(as_nobody "${user_env[@]}" timeout 60 "$work/quokka-quokka" --geo-table /dev/null \
        --explore target.example --quit --report 2>/dev/null | grep '^trace')
  check "denied: the program explains, lists nothing else" \
    "$(printf 'trace\tRoute tracing is not permitted here: allow ping sockets (sysctl net.ipv4.ping_group_range) or give the probe helper CAP_NET_RAW (sudo setcap cap_net_raw+ep %s)' "$work/quokka-quokka-probe")" \
    "$out"
  ;;
outcomes)
  # The program and its helper copied, the helper given the capability, as `make run` does.
  cp "$build/quokka-quokka" "$build/quokka-quokka-probe" "$work/" && chmod 755 "$work"/quokka-*
  setcap cap_net_raw+ep "$work/quokka-quokka-probe" || { echo "SKIP: setcap does not work here"; exit 77; }
  mkdir "$work/user" "$work/root" && chown nobody:nogroup "$work/user"
  run_as() { # run_as root|nobody ARGUMENTS...: the copied program, each user in a home of its own
    local who=$1; shift
    if [ "$who" = root ]; then
      in_client env HOME="$work/root" XDG_CONFIG_HOME="$work/root/config" QT_QPA_PLATFORM=offscreen timeout 60 "$work/quokka-quokka" "$@"
    else
      as_nobody env HOME="$work/user" XDG_CONFIG_HOME="$work/user/config" QT_QPA_PLATFORM=offscreen timeout 60 "$work/quokka-quokka" "$@"
    fi
  }
  run_as root --home 422,220 && run_as nobody --home 422,220
  reject=(iptables -A OUTPUT -p icmp --icmp-type echo-request -j REJECT)
  unreject=(iptables -D OUTPUT -p icmp --icmp-type echo-request -j REJECT)
  # label | ping_group_range | who | set-up in the client | its undoing | destination | line
  rows=(
    "raw|1 0|root|${reject[*]}|${unreject[*]}|203.0.113.2|Probes to 203.0.113.2 are not permitted here: the system refused to send them"
    "helper|1 0|nobody|${reject[*]}|${unreject[*]}|203.0.113.2|Probes to 203.0.113.2 are not permitted here: the system refused to send them"
    "ping|0 2147483647|nobody|ip route del default|ip route add default via 192.0.2.1|203.0.113.2|Probes to 203.0.113.2 cannot be sent: this computer has no route to that address"
    "helper|1 0|nobody|true|true|127.0.0.1|Probes to 127.0.0.1 are refused: the probe helper sends nothing to that address"
  )
  for row in "${rows[@]}"; do
    IFS='|' read -r label range who setup undo destination line <<< "$row"
    allow_ping_sockets "$range"
    in_client $setup
    out=$(run_as "$who" --geo-table /dev/null --explore "$destination" --quit --report 2>/dev/null | grep '^trace')
    in_client $undo
    check "outcomes: $label, $setup, $destination: the run lists why, once" "$(printf 'trace\t%s' "$line")" "$out"
  done
  ;;
traceroute)
  ours=$(hops "$(in_client "$bin/quokka-probe-route" 203.0.113.2)")
  theirs=$(in_client traceroute -I -n -q 1 -w 1 -m 29 203.0.113.2 |
           awk 'NR > 1 { printf "%s ", ($2 == "*" ? "Error" : $2) }')
  check "traceroute -I finds the same hops" "$theirs" "$ours"
  ;;
rounds)
  theirs=$(in_client traceroute -I -n -q 1 -w 1 -m 29 203.0.113.2 |
           awk 'NR > 1 { printf " %s", ($2 == "*" ? "Error" : $2) }')
  expected_rounds=$(for r in $(seq 20); do echo "round $r$theirs"; done)
  start_strays
  # The helper beside the program, as the program finds it; used only where neither socket is.
  cp "$bin/quokka-probe-rounds" "$build/quokka-quokka-probe" "$work/" && chmod 755 "$work"/quokka-*
  helper_rows=("helper|1 0|as_nobody|100" "helper|1 0|as_nobody|20")
  setcap cap_net_raw+ep "$work/quokka-quokka-probe" || { echo "SKIP: rounds through the helper: setcap does not work here"; helper_rows=(); }
  # 20 rounds 0.1 s apart, each probe lost after 1 s: ten rounds in flight at a time; then
  # 0.02 s apart, so that answers from beyond the wire come while later rounds are sent
  # (through the helper, its rate bound stretches the first round of 29 a little).
  for row in "raw|1 0|in_client|100" "raw|1 0|in_client|20" "ping|0 2147483647|as_nobody|100" \
             "ping|0 2147483647|as_nobody|20" "${helper_rows[@]}"; do
    IFS='|' read -r kind range runner interval <<< "$row"
    allow_ping_sockets "$range"
    out=$($runner "$work/quokka-probe-rounds" 203.0.113.2 20 "$interval" 1000)
    label="rounds, $kind, every ${interval}ms"
    check "$label: socket kind" "kind $kind" "$(head -n1 <<< "$out")"
    check "$label: the destination's time-to-live" "destination ttl $(wc -w <<< "$theirs")" \
      "$(grep '^destination' <<< "$out")"
    # A probe through the lab's user-space wire may be lost on a busy machine; an address
    # that differs is never allowed, and two lost answers of the 60 expected at most.
    check "$label: every round finds traceroute -I's hops, r2 silent in both (at most 2 lost)" "" \
      "$(paste -d'|' <(echo "$expected_rounds") <(grep '^round' <<< "$out") |
         awk -F'|' '{ n = split($1, want, " "); m = split($2, got, " ");
                      if (m != n) { print "round " NR ": " $2; next }
                      for (i = 3; i <= n; ++i)
                        if (got[i] != want[i]) { if (got[i] == "Error") ++lost; else print "round " NR ": " $2 }
                      ++rounds }
                    END { if (rounds != 20) print rounds " rounds"; if (lost > 2) print lost " answers lost" }')"
    slow=$(awk -v d=$((2 * delay_ms)) '$1 == "rtt" && $3 >= 3 && $4 < d' <<< "$out")
    check "$label: hops past the delaying wire take at least ${delay_ms}ms each way" "" "$slow"
    check "$label: round trips finer than a millisecond" "yes" \
      "$(awk '$1 == "rtt" && $4 !~ /\.000$/ { fine = 1 } END { print fine ? "yes" : "no" }' <<< "$out")"
    check "$label: the source goes within a second during a round, its helper reaped" "children none" \
      "$(awk '$1 == "ended" && $3 < 1000 { print $5, $6 }' <<< "$out")"
    check "$label: no helper left" "" "$(pgrep -f "^$work/quokka-quokka-probe")"
    check "$label: every probe left" "" "$(grep '^unsent' <<< "$out")"
  done
  # The route monitor's own session as an ordinary user, ping sockets closed: through the
  # helper, five rounds reach the destination, and its end leaves no helper behind.
  if [ ${#helper_rows[@]} -gt 0 ]; then
    cp "$bin/quokka-monitor-rounds" "$work/" && chmod 755 "$work/quokka-monitor-rounds"
    allow_ping_sockets "1 0"
    out=$(as_nobody env HOME="$work" timeout 30 "$work/quokka-monitor-rounds" 203.0.113.2 5 100 2>&1)
    check "monitor, helper, as nobody: five rounds to the destination's time-to-live" \
      "$(wc -w <<< "$theirs") 203.0.113.2 5" "$(grep '^monitor' <<< "$out" | tail -n1 | cut -f2-4 | tr '\t' ' ')"
    check "monitor, helper, as nobody: no helper left" "" "$(pgrep -f "^$work/quokka-quokka-probe")"
  fi
  # The helper refuses the loop-back network; the round says so of every probe.
  [ ${#helper_rows[@]} -eq 0 ] ||
    check "rounds, helper: a round to 127.0.0.1 is refused, probe by probe" "unsent refused 3" \
      "$(as_nobody "$work/quokka-probe-rounds" 127.0.0.1 1 100 1000 3 | grep '^unsent')"
  ;;
explore)
  printf '192.0.2.0 192.0.2.255 US|United States of America|Texas|Austin\t30.26715 -97.74306\n198.51.100.0 198.51.100.255 GB|United Kingdom of Great Britain |England|London\t51.50853 -0.12574\n203.0.113.0 203.0.113.255 -|-|-|-\t0 0\n' |
    "$bin/quokka-make-geo-table" "$work/table.bin"
  run_program() {
    in_client env HOME="$work" XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen \
      timeout 120 "$build/quokka-quokka" --geo-table "$work/table.bin" "$@" 2>"$work/stderr"
  }
  run_program --home 422,220
  out=$(run_program --explore target.example --quit --report --screenshot "$work/shots" | grep '^trace')
  line() { sed -n "${1}p" <<< "$out" | cut -f2-; }
  rtt() { line "$1" | cut -c11-20 | sed 's/ms *$//'; }
  check "explore: four lines" "4" "$(wc -l <<< "$out")"
  check "explore: hop 1 columns" "$(printf '%-10s%-10s%-15s%s' 'Hop 1' "$(rtt 1)ms" '192.0.2.1' 'Home')" "$(line 1)"
  check "explore: hop 3 located" "$(printf '%-10s%-10s%-15s%s' 'Hop 3' "$(rtt 2)ms" '198.51.100.6' 'London, England, United Kingdom of Great Britain ')" "$(line 2)"
  check "explore: hop 4 in a row without place" "$(printf '%-10s%-10s%-15s%s' 'Hop 4' "$(rtt 3)ms" '203.0.113.2' 'Not Found')" "$(line 3)"
  check "explore: completion with the total" "Route Complete, Total Round Trip Time $(( $(rtt 1) + $(rtt 2) + $(rtt 3) ))ms" "$(line 4)"
  for picture in map trace whois; do
    check "explore: $picture.png saved" "yes" "$([ -s "$work/shots/$picture.png" ] && echo yes || echo no)"
  done
  out=$(run_program --explore no-such-host.example --quit --report | grep '^trace')
  check "explore: an unknown name is said so" "$(printf 'trace\tCannot find an IPv4 address for "no-such-host.example"')" "$out"
  # Awkward input gets a clear outcome: the route, or the one line that says the name is unknown.
  long=$(printf 'a%.0s' $(seq 300))
  inputs=("" "   " "$long" "$(printf 'tar\tget\001.example')" "target.example." "bücher.example" "203.0.113.2"
          order.example)
  # Each input has a program of its own, all at once: a route takes its 2 s wait per hop.
  runs=()
  for i in "${!inputs[@]}"; do
    { run_program --explore "${inputs[$i]}" --quit --report > "$work/input-$i" 2>/dev/null
      echo $? > "$work/input-$i.status"; } &
    runs+=($!)
  done
  wait "${runs[@]}"
  for i in 0 1 2 3 4 5 6; do
    input=${inputs[$i]}
    status=$(cat "$work/input-$i.status")
    last=$(grep '^trace' "$work/input-$i" | tail -n1 | cut -f2-)
    case "$input" in
      bücher.example|203.0.113.2) expected="Route Complete" ;;
      # The hosts file knows no name with a trailing dot; what matters is a clean outcome.
      target.example.) [[ $last == Route\ Complete* ]] && expected="Route Complete" || expected="Cannot find an IPv4 address for" ;;
      *) expected="Cannot find an IPv4 address for" ;;
    esac
    check "explore: input '$(printf '%q' "$input" | cut -c1-40)' ends cleanly" "0 $expected" "$status ${last:0:${#expected}}"
  done
  # A name with two addresses is traced to the first one the resolver lists, not to the one
  # an address-sorting resolver puts first.
  out=$(grep '^trace.Hop' "$work/input-7" | tail -n1)
  check "explore: a name of two addresses goes to the first listed" "203.0.113.2" "$(cut -f2 <<< "$out" | cut -c21-35 | tr -d ' ')"
  ;;
bench)
  in_client env HOME="$work" XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen \
    "$build/quokka-quokka" --home 422,220
  start=$(date +%s%N)
  # The inner shell reports the CPU time of its one child, the program.
  ip netns exec "$prefix-client" env HOME="$work" XDG_CONFIG_HOME="$work/config" \
    QT_QPA_PLATFORM=offscreen bash -c '"$@" > "'"$work"'/out" 2>/dev/null; times > "'"$work"'/times"' _ \
    "$build/quokka-quokka" --geo-table /dev/null --explore target.example --quit --report
  cpu=$(tail -n1 "$work/times")
  wall_ms=$(( ($(date +%s%N) - start) / 1000000 ))
  probes_ms=$(awk -F'\t' '/^trace\tHop/ { split(substr($2, 11, 10), a, "ms"); s += a[1] } END { print s + 400 }' "$work/out")
  waits=$(grep -c '^trace.Hop' "$work/out")
  echo "run: wall ${wall_ms} ms, probes ~${probes_ms} ms (one silent hop at 400 ms), waits $((waits * 2000)) ms"
  echo "run overhead beyond probes and waits: $((wall_ms - probes_ms - waits * 2000)) ms"
  echo "CPU time of the program (user, system): ${cpu} against ${wall_ms} ms of wall time"
  echo "(taken beside other tests; load average over the last minute: $(cut -d" " -f1 /proc/loadavg))"
  ;;
traceroute6|rounds6)
  target=2001:db8:4::2
  start_forger6() { # start_forger6 [--in-time]: a forger beside the client, until stop_forger6
    : > "$work/forger"
    ip netns exec "$prefix-client" "$build/tests/accept/quokka-icmp-forger" c0 "$@" > "$work/forger" 2>&1 &
    forger_pid=$!
    helpers+=($!)
    for _ in $(seq 50); do grep -q ready "$work/forger" && return; sleep 0.1; done
    echo "the forger did not start"; cat "$work/forger"; exit 1
  }
  stop_forger6() { kill -TERM "$forger_pid"; wait "$forger_pid" 2>/dev/null; }
  theirs=$(in_client traceroute -6 -I -n -q 1 -w 1 -m 29 $target |
           awk 'NR > 1 { printf "%s ", ($2 == "*" ? "Error" : $2) }')
  check "$scenario: traceroute -6 -I finds the lab's hops, r2 silent" \
    "2001:db8:1::1 Error 2001:db8:3::2 $target " "$theirs"
  in_client ping -q -i 0.2 $target >/dev/null 2>&1 & helpers+=($!)
  in_client ping -q -i 0.2 -t 1 $target >/dev/null 2>&1 & helpers+=($!)
  # The helper beside the program, as the program finds it; used only where neither socket is.
  cp "$bin/quokka-probe-route" "$bin/quokka-probe-rounds" "$build/quokka-quokka-probe" "$work/" &&
    chmod 755 "$work"/quokka-*
  setcap cap_net_raw+ep "$work/quokka-quokka-probe" || { echo "SKIP: setcap does not work here"; exit 77; }
  for row in "raw|1 0|in_client" "ping|0 2147483647|as_nobody" "helper|1 0|as_nobody"; do
    IFS='|' read -r kind range runner <<< "$row"
    allow_ping_sockets "$range"
    if [ "$scenario" = traceroute6 ]; then
      out=$($runner "$work/quokka-probe-route" $target)
      check "traceroute6, $kind: socket kind" "kind $kind" "$(head -n1 <<< "$out")"
      check "traceroute6, $kind: the hops of traceroute -6 -I" "$theirs" "$(hops "$out")"
      check "traceroute6, $kind: a destination that never answers" \
        "2001:db8:1::1 Error 2001:db8:3::2 Error Error " "$(hops "$($runner "$work/quokka-probe-route" 2001:db8:4::3 5)")"
      # A forger beside the client answers every probe in ICMPv6 with what must not count; a
      # matching report in time (the control, for the silent r2) shows its packets arrive.
      start_forger6 --in-time
      check "traceroute6, $kind: control: a matching forged report in time counts" "2 2001:db8:ff::210" \
        "$($runner "$work/quokka-probe-route" $target 2 | awk 'NR == 3 { print $1, $2 }')"
      stop_forger6
      # A report whose quoted header claims another IP version reaches a ping socket's error
      # queue matched by the kernel alone, without the quoted header: sent to the others only.
      if [ "$kind" = ping ]; then start_forger6; kinds=12; else start_forger6 --wrong-version; kinds=13; fi
      check "traceroute6, $kind, forged: the hops of traceroute -6 -I" "$theirs" \
        "$(hops "$($runner "$work/quokka-probe-route" $target)")"
      sleep 0.6 # the late forgeries for the last probe
      stop_forger6
      check "traceroute6, $kind, forged: every kind of forgery went out" "$kinds" \
        "$(awk '$1 == "sent" && $3 >= 4' "$work/forger" | wc -l)"
    else
      out=$($runner "$work/quokka-probe-rounds" $target 10 100 1000)
      check "rounds6, $kind: socket kind" "kind $kind" "$(head -n1 <<< "$out")"
      check "rounds6, $kind: every round finds traceroute -6 -I's hops" \
        "$(for r in $(seq 10); do echo "round $r ${theirs% }"; done)" "$(grep '^round' <<< "$out")"
      check "rounds6, $kind: every probe left" "" "$(grep '^unsent' <<< "$out")"
    fi
  done
  if [ "$scenario" = traceroute6 ]; then
    # The whole program over IPv6: a literal typed with brackets, a name with only an IPv6
    # address, and a name with both families with --ipv6. Each lists traceroute's answering
    # hops (the silent r2 gets no line) and ends with the route's total.
    allow_ping_sockets "1 0"
    explore6() { # explore6 NAME ARGS...: the hop addresses and the last line of the run
      local name=$1; shift
      in_client env HOME="$work/home-$name" XDG_CONFIG_HOME="$work/home-$name/config" QT_QPA_PLATFORM=offscreen \
        sh -c '"$@" --home 300,150 && timeout 120 "$@" --explore "$0" --quit --report' "$name" "$build/quokka-quokka" "$@" \
        2>/dev/null | awk -F'\t' '$1 == "trace" && $2 ~ /^Hop/ { split($2, f, " +"); printf "%s ", f[4] }
                                  $1 == "trace" { last = $2 } END { print substr(last, 1, 14) }'
    }
    runs=("[$target]|" "only6.example|" "both.example|--ipv6")
    pids=()
    for i in "${!runs[@]}"; do
      IFS='|' read -r name option <<< "${runs[$i]}"
      explore6 "$name" $option > "$work/explore6-$i" & pids+=($!)
    done
    wait "${pids[@]}"
    for i in "${!runs[@]}"; do
      check "explore6, ${runs[$i]%|}: the program lists traceroute -6 -I's answering hops" \
        "$(sed 's/Error //g' <<< "$theirs")Route Complete" "$(cat "$work/explore6-$i")"
    done
  fi
  if [ "$scenario" = rounds6 ]; then
    check "rounds6, helper: a round to ::1 is refused, probe by probe" "unsent refused 3" \
      "$(as_nobody "$work/quokka-probe-rounds" ::1 1 100 1000 3 | grep '^unsent')"
    # r3 drops a third of the echo requests it forwards, at random: the target's answers go
    # missing in some rounds, the routers' never.
    ns r3 nft -f - <<'NFT'
table ip6 lossy {
  chain forward { type filter hook forward priority 0; icmpv6 type echo-request numgen random mod 3 == 0 drop; }
}
NFT
    for row in "raw|1 0|in_client" "ping|0 2147483647|as_nobody" "helper|1 0|as_nobody"; do
      IFS='|' read -r kind range runner <<< "$row"
      allow_ping_sockets "$range"
      out=$($runner "$work/quokka-probe-rounds" $target 20 100 1000 4)
      check "rounds6, $kind, lossy: the routers answer every round" "20" \
        "$(awk '$1 == "round" && $3 == "2001:db8:1::1" && $5 == "2001:db8:3::2"' <<< "$out" | wc -l)"
      check "rounds6, $kind, lossy: the target is lost in some rounds, not in all" "yes" \
        "$(awk '$1 == "round" { n++; lost += ($6 != "'$target'") } END { print (lost > 0 && lost < n) ? "yes" : "lost " lost " of " n }' <<< "$out")"
    done
    # The route monitor's own session says so too: loss at the target alone.
    out=$(in_client timeout 30 "$bin/quokka-monitor-rounds" $target 30 100 2>&1)
    check "rounds6, monitor, lossy: the routers lose nothing, the target some" "0.0 0.0 yes" \
      "$(awk -F'\t' -v t=$target '$1 == "monitor" { loss[$3] = $6 }
        END { print loss["2001:db8:1::1"], loss["2001:db8:3::2"], (loss[t] > 0 && loss[t] < 100) ? "yes" : loss[t] }' <<< "$out")"
  fi
  ;;
*)
  echo "unknown scenario $scenario"; exit 2 ;;
esac

[ "$failures" -eq 0 ] || exit 1
