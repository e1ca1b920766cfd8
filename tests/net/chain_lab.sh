#!/usr/bin/env bash
# A straight chain of nine routers between a client and a target, so a route has ten hops.
# Addresses from 198.51.100.0/24, one /30 per link: link k joins 198.51.100.(4k+1) on the
# client's side to 198.51.100.(4k+2) on the far side. target.example is 198.51.100.38.
#
#   chain_lab.sh up PREFIX     chain_lab.sh down PREFIX
set -euo pipefail

cmd=$1
prefix=$2
source "$(dirname "$0")/lab_lib.sh"
routers=(r1 r2 r3 r4 r5 r6 r7 r8 r9)
names=(client "${routers[@]}" target)

up() {
  remove_namespaces "${names[@]}"
  make_namespaces "${names[@]}"
  local k near far
  for k in $(seq 0 9); do
    near=${names[$k]} far=${names[$((k + 1))]}
    link "$near" "n$k" "$far" "f$k"
    ip -n "$prefix-$near" addr add "198.51.100.$((4 * k + 1))/30" dev "n$k"
    ip -n "$prefix-$far" addr add "198.51.100.$((4 * k + 2))/30" dev "f$k"
  done
  ip -n "$prefix-client" route add default via 198.51.100.2
  ip -n "$prefix-target" route add default via 198.51.100.37
  local j
  for k in $(seq 1 9); do
    ns "${names[$k]}" sysctl -qw net.ipv4.ip_forward=1
    # Onwards by default; back towards the client for every link before the previous one.
    ip -n "$prefix-${names[$k]}" route add default via "198.51.100.$((4 * k + 2))"
    for j in $(seq 0 $((k - 2))); do
      ip -n "$prefix-${names[$k]}" route add "198.51.100.$((4 * j))/30" via "198.51.100.$((4 * k - 3))"
    done
  done
  client_names "198.51.100.38 target.example"
  wait_for_path 198.51.100.38
}

case "$cmd" in
  up) up ;;
  down) remove_namespaces "${names[@]}" ;;
  *) echo "usage: chain_lab.sh up|down PREFIX" >&2; exit 2 ;;
esac
