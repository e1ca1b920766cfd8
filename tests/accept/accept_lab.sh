#!/usr/bin/env bash
# A namespace network for whole-program tests: four routers, the third one silent, a delaying
# wire between the first two, a target, and WHOIS servers next to the first router (the wire
# relays frames as they are, and TCP's offloaded checksums would not survive it). Addresses
# from the documentation ranges only:
#
#   client 192.0.2.2 -- 192.0.2.1 r1 198.51.100.1 ==wire== 198.51.100.2 r2 198.51.100.5
#     -- 198.51.100.6 r3 198.51.100.9 -- 198.51.100.10 r4 203.0.113.1 -- 203.0.113.2 target
#   r1 192.0.2.9 -- whois 192.0.2.10 (+ 192.0.2.11 IANA's name, 192.0.2.12 the registry,
#                                      192.0.2.13 free for a test's own server)
#
# The same hosts speak IPv6 on the same path (the WHOIS servers and the wire's own host do not),
# r3 as silent over ICMPv6; r4's address toward r3 is the route's longest:
#
#   client 2001:db8:1::2 -- 2001:db8:1::1 r1 2001:db8:2::1 ==wire== 2001:db8:2::2 r2 2001:db8:3::1
#     -- 2001:db8:3::2 r3 2001:db8:4::1 -- 2001:db8:4::ab:0:1 r4 2001:db8:5::1 -- 2001:db8:5::2 target
#
# The client's hosts file names accept.example (the target, IPv4 only), dual.example (the target
# in both families), whois.iana.org and whois.registry.test; its resolver is its own loopback,
# where nothing answers. IANA's server refers queries for the target's addresses to the
# registry, whose answer is WORK/registry.txt.
#
#   accept_lab.sh up PREFIX BIN_DIR WHOIS_SERVER WORK DELAY_MS     accept_lab.sh down PREFIX
#   (BIN_DIR holds quokka-delaywire; the servers record their queries in WORK/record-*)
set -euo pipefail

cmd=$1
prefix=$2
names=(client r1 wire r2 r3 r4 target whois)

source "$(dirname "$0")/../net/lab_lib.sh"

down() { remove_namespaces "${names[@]}"; }

namespaces() {
  make_namespaces "${names[@]}"
  for r in r1 r2 r3 r4; do ns "$r" sysctl -qw net.ipv4.ip_forward=1; done
  local n
  for n in client r1 r2 r3 r4 target; do
    ns "$n" sysctl -qw net.ipv6.conf.all.disable_ipv6=0 net.ipv6.conf.default.disable_ipv6=0 \
      net.ipv6.conf.all.accept_dad=0 net.ipv6.conf.default.accept_dad=0 net.ipv6.icmp.ratelimit=0
  done
  for r in r1 r2 r3 r4; do ns "$r" sysctl -qw net.ipv6.conf.all.forwarding=1; done
}

wiring() {
  link client c0 r1 a0
  link r1 a1 wire wa
  link wire wb r2 b0
  link r2 b1 r3 d0
  link r3 d1 r4 e0
  link r4 e1 target t0
  link r1 w0 whois s0
  addr client 192.0.2.2/30 c0; route client default via 192.0.2.1
  addr r1 192.0.2.1/30 a0; addr r1 198.51.100.1/30 a1; route r1 default via 198.51.100.2
  addr r2 198.51.100.2/30 b0; addr r2 198.51.100.5/30 b1
  route r2 192.0.2.0/30 via 198.51.100.1; route r2 default via 198.51.100.6
  addr r3 198.51.100.6/30 d0; addr r3 198.51.100.9/30 d1
  route r3 192.0.2.0/30 via 198.51.100.5; route r3 default via 198.51.100.10
  addr r4 198.51.100.10/30 e0; addr r4 203.0.113.1/24 e1; route r4 default via 198.51.100.9
  addr target 203.0.113.2/24 t0; route target default via 203.0.113.1
  addr r1 192.0.2.9/29 w0
  for a in 10 11 12 13; do addr whois "192.0.2.$a/29" s0; done
  route whois default via 192.0.2.9
  ns r3 iptables -A OUTPUT -p icmp --icmp-type time-exceeded -j DROP
  addr client 2001:db8:1::2/64 c0; route client default via 2001:db8:1::1
  addr r1 2001:db8:1::1/64 a0; addr r1 2001:db8:2::1/64 a1; route r1 default via 2001:db8:2::2
  addr r2 2001:db8:2::2/64 b0; addr r2 2001:db8:3::1/64 b1
  route r2 2001:db8:1::/64 via 2001:db8:2::1; route r2 default via 2001:db8:3::2
  addr r3 2001:db8:3::2/64 d0; addr r3 2001:db8:4::1/64 d1
  route r3 2001:db8:1::/64 via 2001:db8:3::1; route r3 default via 2001:db8:4:0:0:ab:0:1
  addr r4 2001:0db8:0004:0000:0000:00ab:0000:0001/64 e0; addr r4 2001:db8:5::1/64 e1
  route r4 default via 2001:db8:4::1
  addr target 2001:db8:5::2/64 t0; route target default via 2001:db8:5::1
  ns r3 ip6tables -A OUTPUT -p icmpv6 --icmpv6-type time-exceeded -j DROP
  ip -n "$prefix-wire" link set wa promisc on
  ip -n "$prefix-wire" link set wb promisc on
}

names_of_client() {
  client_names "203.0.113.2 accept.example" "203.0.113.2 dual.example" "2001:db8:5::2 dual.example" \
    "192.0.2.11 whois.iana.org" "192.0.2.12 whois.registry.test"
}

whois_servers() { # whois_servers SERVER_PROGRAM WORK
  local server=$1 work=$2
  mkdir -p "$work/iana"
  printf '%% IANA WHOIS server\n%% This query returned 0 objects.\n' > "$work/iana/default"
  printf '%% IANA WHOIS server\n\nrefer:        whois.registry.test\n\ninetnum:      203.0.0.0 - 203.255.255.255\norganisation: Test Pacific Registry\nstatus:       ALLOCATED\n' \
    > "$work/iana/203.0.113.2"
  printf '%% IANA WHOIS server\n\nrefer:        whois.registry.test\n\ninet6num:     2001:db8::/32\norganisation: Test Documentation Registry\nstatus:       ALLOCATED\n' \
    > "$work/iana/2001:db8:5::2"
  printf '%% Test registry\n\ninetnum:        203.0.113.0 - 203.0.113.255\nnetname:        ACCEPT-NET\ncountry:        AU\nabuse-mailbox:  abuse@accept.example\nphone:          +61 2 0000 0000\n' \
    > "$work/registry.txt"
  ns whois "$server" 192.0.2.11 "$work/record-iana" iana "$work/iana" > "$work/ready-iana" &
  ns whois "$server" 192.0.2.12 "$work/record-registry" answer "$work/registry.txt" > "$work/ready-registry" &
  for _ in $(seq 50); do
    if [ -s "$work/ready-iana" ] && [ -s "$work/ready-registry" ]; then return 0; fi
    sleep 0.1
  done
  echo "accept_lab: the WHOIS servers did not start" >&2
  return 1
}

up() {
  local bin=$3 server=$4 work=$5 delay_ms=$6
  down
  namespaces
  wiring
  ns wire "$bin/quokka-delaywire" wa wb "$delay_ms" &
  names_of_client
  whois_servers "$server" "$work"
  wait_for_path 203.0.113.2
  wait_for_path 2001:db8:5::2
}

case "$cmd" in
  up) up "$@" ;;
  down) down ;;
  *) echo "usage: accept_lab.sh up PREFIX BIN_DIR WHOIS_SERVER WORK DELAY_MS | down PREFIX" >&2; exit 2 ;;
esac
