#!/usr/bin/env bash
# A lossy, load-balanced network of namespaces for the route monitor. Documentation ranges:
#
#   client 192.0.2.2 -- 192.0.2.1 r1 198.51.100.1 ==wire== 198.51.100.2 r2 198.51.100.5
#     -- 198.51.100.6 r3 198.51.100.9  -- 198.51.100.10 r4a 198.51.100.17 -- 198.51.100.18 target
#                        198.51.100.13 -- 198.51.100.14 r4b 198.51.100.21 -- 198.51.100.22
#   target 203.0.113.2 (target.example), on its loopback
#
# The wire delays each frame by DELAY_MS each way (this kernel has no netem, so a relay does
# it). r2 drops a fifth of what it forwards, either way, and a fifth of its own time-exceeded
# reports, each at random: a probe to r2 is lost 20% of the time, one beyond it 36%. r3
# sends each packet for 203.0.113.0/24 to r4a or r4b at random with equal weight (a random
# mark, and the mark's own routing table: a multipath route would keep all the probes of one
# flow on one path), so two addresses answer at the fourth hop.
#
#   monitor_lab.sh up PREFIX DELAYWIRE_PROGRAM DELAY_MS     monitor_lab.sh down PREFIX
set -euo pipefail

cmd=$1
prefix=$2
names=(client r1 wire r2 r3 r4a r4b target)

source "$(dirname "$0")/lab_lib.sh"

down() { remove_namespaces "${names[@]}"; }

up() {
  local wire_program=$3 delay_ms=$4 n
  down
  make_namespaces "${names[@]}"
  for n in "${names[@]}"; do
    # The target answers a path it does not use back; nothing checks the way packets came.
    ns "$n" sysctl -qw net.ipv4.conf.all.rp_filter=0 net.ipv4.conf.default.rp_filter=0
  done
  for n in r1 r2 r3 r4a r4b; do ns "$n" sysctl -qw net.ipv4.ip_forward=1; done

  link client c0 r1 a0
  link r1 a1 wire wa
  link wire wb r2 b0
  link r2 b1 r3 d0
  link r3 d1 r4a e0
  link r3 d2 r4b g0
  link r4a e1 target t0
  link r4b g1 target t1

  addr client 192.0.2.2/30 c0 && route client default via 192.0.2.1
  addr r1 192.0.2.1/30 a0 && addr r1 198.51.100.1/30 a1 && route r1 default via 198.51.100.2
  addr r2 198.51.100.2/30 b0 && addr r2 198.51.100.5/30 b1
  route r2 192.0.2.0/30 via 198.51.100.1 && route r2 default via 198.51.100.6
  addr r3 198.51.100.6/30 d0 && addr r3 198.51.100.9/30 d1 && addr r3 198.51.100.13/30 d2
  route r3 default via 198.51.100.5
  route r3 203.0.113.0/24 via 198.51.100.10
  route r3 203.0.113.0/24 via 198.51.100.14 table 101
  ip -n "$prefix-r3" rule add fwmark 1 lookup 101
  addr r4a 198.51.100.10/30 e0 && addr r4a 198.51.100.17/30 e1
  route r4a default via 198.51.100.9 && route r4a 203.0.113.0/24 via 198.51.100.18
  addr r4b 198.51.100.14/30 g0 && addr r4b 198.51.100.21/30 g1
  route r4b default via 198.51.100.13 && route r4b 203.0.113.0/24 via 198.51.100.22
  addr target 203.0.113.2/32 lo
  addr target 198.51.100.18/30 t0 && addr target 198.51.100.22/30 t1
  route target default via 198.51.100.17

  ns r2 nft -f - <<'EOF'
table ip lossy {
  chain forward { type filter hook forward priority 0; numgen random mod 100 < 20 drop; }
  chain output { type filter hook output priority 0; icmp type time-exceeded numgen random mod 100 < 20 drop; }
}
EOF
  ns r3 nft -f - <<'EOF'
table ip balance {
  chain prerouting { type filter hook prerouting priority mangle; meta mark set numgen random mod 2; }
}
EOF

  ip -n "$prefix-wire" link set wa promisc on
  ip -n "$prefix-wire" link set wb promisc on
  # At a real-time priority where the system allows it: a busy machine would otherwise hold
  # the relay back now and then, and a whole burst of frames with it.
  local realtime=(chrt -f 20)
  "${realtime[@]}" true 2>/dev/null || realtime=()
  ns wire "${realtime[@]}" "$wire_program" wa wb "$delay_ms" &

  client_names "203.0.113.2 target.example"
  wait_for_path 203.0.113.2
}

case "$cmd" in
  up) up "$@" ;;
  down) down ;;
  *) echo "usage: monitor_lab.sh up PREFIX DELAYWIRE DELAY_MS | down PREFIX" >&2; exit 2 ;;
esac
