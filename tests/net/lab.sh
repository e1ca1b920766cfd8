#!/usr/bin/env bash
# A small routed network of namespaces for route-tracing tests. Documentation ranges only:
#
#   client 192.0.2.2 -- 192.0.2.1 r1 198.51.100.1 ==wire== 198.51.100.2 r2 198.51.100.5
#          -- 198.51.100.6 r3 203.0.113.1 -- 203.0.113.2 target (+ 203.0.113.3, never answers)
#
# The wire namespace bridges r1 and r2 through a delaying relay (this kernel has no netem).
# r2 is silent: it sends no time-exceeded reports. Names: target.example and bücher.example
# (as xn--bcher-kva.example) -> 203.0.113.2, silent.example -> 203.0.113.3, in the client's
# own hosts file.
#
#   lab.sh up PREFIX DELAYWIRE_PROGRAM DELAY_MS     lab.sh down PREFIX
set -euo pipefail

cmd=$1
prefix=$2
names=(client r1 wire r2 r3 target)

source "$(dirname "$0")/lab_lib.sh"

down() { remove_namespaces "${names[@]}"; }

up() {
  local wire_program=$3 delay_ms=$4
  down
  make_namespaces "${names[@]}"
  for r in r1 r2 r3; do ns "$r" sysctl -qw net.ipv4.ip_forward=1; done

  link client c0 r1 a0
  link r1 a1 wire wa
  link wire wb r2 b0
  link r2 b1 r3 d0
  link r3 d1 target t0

  ip -n "$prefix-client" addr add 192.0.2.2/30 dev c0
  ip -n "$prefix-client" route add default via 192.0.2.1
  ip -n "$prefix-r1" addr add 192.0.2.1/30 dev a0
  ip -n "$prefix-r1" addr add 198.51.100.1/30 dev a1
  ip -n "$prefix-r1" route add default via 198.51.100.2
  ip -n "$prefix-r2" addr add 198.51.100.2/30 dev b0
  ip -n "$prefix-r2" addr add 198.51.100.5/30 dev b1
  ip -n "$prefix-r2" route add 192.0.2.0/30 via 198.51.100.1
  ip -n "$prefix-r2" route add default via 198.51.100.6
  ip -n "$prefix-r3" addr add 198.51.100.6/30 dev d0
  ip -n "$prefix-r3" addr add 203.0.113.1/24 dev d1
  ip -n "$prefix-r3" route add default via 198.51.100.5
  ip -n "$prefix-target" addr add 203.0.113.2/24 dev t0
  ip -n "$prefix-target" addr add 203.0.113.3/24 dev t0
  ip -n "$prefix-target" route add default via 203.0.113.1

  ns r2 iptables -A OUTPUT -p icmp --icmp-type time-exceeded -j DROP
  ns target iptables -A INPUT -p icmp --icmp-type echo-request -d 203.0.113.3 -j DROP

  ip -n "$prefix-wire" link set wa promisc on
  ip -n "$prefix-wire" link set wb promisc on
  ns wire "$wire_program" wa wb "$delay_ms" &

  # order.example: the target first, then a loopback address, which address sorting would
  # put first for its smaller scope.
  client_names "203.0.113.2 target.example xn--bcher-kva.example" "203.0.113.3 silent.example" \
    "203.0.113.2 order.example" "127.0.0.5 order.example"

  wait_for_path 203.0.113.2
}

case "$cmd" in
  up) up "$@" ;;
  down) down ;;
  *) echo "usage: lab.sh up PREFIX DELAYWIRE DELAY_MS | down PREFIX" >&2; exit 2 ;;
esac
