# Shared pieces of the namespace test networks and of the scripts that test in them. Source
# it, then set `prefix`: every namespace is named "$prefix-NAME".

# Runs a command inside namespace NAME; in the client; in the client as an unprivileged user.
ns() { local n=$1; shift; ip netns exec "$prefix-$n" "$@"; }
in_client() { ns client "$@"; }
addr() { ip -n "$prefix-$1" addr add "$2" dev "$3"; }          # addr NS ADDRESS/LEN DEVICE
route() { local n=$1; shift; ip -n "$prefix-$n" route add "$@"; } # route NS ROUTE...
as_nobody() { in_client setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"; }

link() { # link NS1 IF1 NS2 IF2: a veth pair between two namespaces, both ends up
  ip -n "$prefix-$1" link add "$2" type veth peer name "$4" netns "$prefix-$3"
  ip -n "$prefix-$1" link set "$2" up
  ip -n "$prefix-$3" link set "$4" up
}

# Hosts that talk IPv4 only (no IPv6 chatter) and rate-limit no ICMP error.
make_namespaces() {
  local n
  for n in "$@"; do
    ip netns add "$prefix-$n"
    ip -n "$prefix-$n" link set lo up
    ns "$n" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1
    ns "$n" sysctl -qw net.ipv4.icmp_ratelimit=0
  done
}

# Ends every process left in the namespaces, then removes them and the client's name files.
remove_namespaces() {
  local n
  for n in "$@"; do ip netns pids "$prefix-$n" 2>/dev/null | xargs -r kill 2>/dev/null || true; done
  for n in "$@"; do ip netns del "$prefix-$n" 2>/dev/null || true; done
  rm -rf "/etc/netns/$prefix-client"
}

# The client's names come from its own hosts file; anything else goes to a resolver on its
# own loopback, where nothing answers, so no lookup leaves the test network.
client_names() { # client_names "ADDRESS NAME..." ...
  mkdir -p "/etc/netns/$prefix-client"
  printf '127.0.0.1 localhost\n' > "/etc/netns/$prefix-client/hosts"
  printf '%s\n' "$@" >> "/etc/netns/$prefix-client/hosts"
  printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:1\n' > "/etc/netns/$prefix-client/resolv.conf"
}

# Waits up to five seconds until the client can ping ADDRESS; says so and fails otherwise.
wait_for_path() {
  for _ in $(seq 50); do
    if ns client ping -c1 -W1 "$1" >/dev/null 2>&1; then return 0; fi
    sleep 0.1
  done
  echo "lab: the path to $1 does not work" >&2
  return 1
}

# Skips the calling test (exit 77) unless it may create network namespaces.
require_namespaces() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: these tests need root to create network namespaces"; exit 77
  fi
  if ! ip netns add "qq-probe-$$" 2>/dev/null; then
    echo "SKIP: network namespaces cannot be created here"; exit 77
  fi
  ip netns del "qq-probe-$$"
}

# The test's own folder ($work) and its network of namespaces: lab_up brings LAB (lab.sh,
# accept_lab.sh or chain_lab.sh) up as PREFIX and takes everything down again when the test
# ends: the processes in `helpers`, a desktop of desktop_lib.sh, the network, the folder.
make_work() { work=$(mktemp -d) && chmod 755 "$work"; }
helpers=()
lab_up() { # lab_up LAB PREFIX [ARGUMENTS...]
  lab_script=$1 prefix=$2
  shift 2
  trap lab_down EXIT
  trap 'exit 1' TERM INT
  bash "$lab_script" up "$prefix" "$@" || exit 1
}
lab_down() {
  local p
  [ "$(type -t stop_display)" != function ] || stop_display
  for p in "${helpers[@]}"; do kill "$p" 2>/dev/null; done
  bash "$lab_script" down "$prefix"
  rm -rf "$work"
}

failures=0
check() { # check DESCRIPTION EXPECTED ACTUAL
  if [ "$2" == "$3" ]; then
    echo "ok: $1"
  else
    echo "FAIL: $1"; echo "  expected: $2"; echo "  actual:   $3"; failures=$((failures + 1))
  fi
}
