#!/usr/bin/env bash
# The IPv6 twin of lab.sh, for route-tracing tests over ICMPv6. Documentation prefix only:
#
#   client 2001:db8:1::2 -- 2001:db8:1::1 r1 2001:db8:2::1 -- 2001:db8:2::2 r2 2001:db8:3::1
#          -- 2001:db8:3::2 r3 2001:db8:4::1 -- 2001:db8:4::2 target (+ 2001:db8:4::3, never answers)
#
# r2 is silent: it sends no time-exceeded reports. Routers forward IPv6, and no address
# waits for duplicate detection. Names in the client's own hosts file: only6.example has
# only an IPv6 address, both.example one of each family.
#
#   lab6.sh up PREFIX     lab6.sh down PREFIX
set -euo pipefail

cmd=$1
prefix=$2
names=(client r1 r2 r3 target)

source "$(dirname "$0")/lab_lib.sh"

down() { remove_namespaces "${names[@]}"; }

up() {
  down
  make_namespaces "${names[@]}"
  local n
  for n in "${names[@]}"; do
    ns "$n" sysctl -qw net.ipv6.conf.all.disable_ipv6=0 net.ipv6.conf.default.disable_ipv6=0 \
      net.ipv6.conf.all.accept_dad=0 net.ipv6.conf.default.accept_dad=0 net.ipv6.icmp.ratelimit=0
  done
  for n in r1 r2 r3; do ns "$n" sysctl -qw net.ipv6.conf.all.forwarding=1; done

  link client c0 r1 a0
  link r1 a1 r2 b0
  link r2 b1 r3 d0
  link r3 d1 target t0

  addr client 2001:db8:1::2/64 c0
  addr r1 2001:db8:1::1/64 a0
  addr r1 2001:db8:2::1/64 a1
  addr r2 2001:db8:2::2/64 b0
  addr r2 2001:db8:3::1/64 b1
  addr r3 2001:db8:3::2/64 d0
  addr r3 2001:db8:4::1/64 d1
  addr target 2001:db8:4::2/64 t0
  addr target 2001:db8:4::3/64 t0
  route client default via 2001:db8:1::1
  route r1 default via 2001:db8:2::2
  route r2 2001:db8:1::/64 via 2001:db8:2::1
  route r2 default via 2001:db8:3::2
  route r3 default via 2001:db8:3::1
  route target default via 2001:db8:4::1

  ns r2 ip6tables -A OUTPUT -p icmpv6 --icmpv6-type time-exceeded -j DROP
  ns target ip6tables -A INPUT -p icmpv6 --icmpv6-type echo-request -d 2001:db8:4::3 -j DROP

  client_names "2001:db8:4::2 only6.example" "2001:db8:4::2 both.example" "192.0.2.2 both.example"

  wait_for_path 2001:db8:4::2
}

case "$cmd" in
  up) up "$@" ;;
  down) down ;;
  *) echo "usage: lab6.sh up PREFIX | down PREFIX" >&2; exit 2 ;;
esac
