#!/usr/bin/env bash
# The whole program in a namespace network of its own (accept_lab.sh), as a new user meets it:
#   forge_raw  a forger answers every probe with packets that must not count; raw socket
#   forge_ping the same on a ping socket, as an unprivileged user
#   close      the program's window is closed with its close box during WHOIS and during a
#              probe: the program ends on its own, and nothing of it is left
#   helper     no ping sockets ("1 0", Debian's default), an ordinary user: the program, and
#              the per-user copy a first run makes, trace through the probe helper (given
#              the capability on a copy here) as traceroute -I does as root; forged packets
#              never count; the helper holds no capability, ends with the program, is never
#              left behind; hostile requests to it put nothing on the wire
#   names      each hop's host name from the client's hosts file and its network from an AS
#              table of the test's own, in the `detail` report lines (visible) and the JSON
#              (exact), hostile ones too; hostile texts of the table, the WHOIS answer and the
#              explored name visible in the trace and whois lines, exact in the JSON; a hop whose name server never answers keeps the run's
#              pace and does not hold up the program's end; a JSON file that cannot be written
#   bench      figures of one run, step by step (the program's main dialog in-process)
set -uo pipefail

scenario=$1
program=${QUOKKA_PROGRAM:?}
netbin=${QUOKKA_NET_BIN:?}
acceptbin=${QUOKKA_ACCEPT_BIN:?}
whois_server=${QUOKKA_WHOIS_SERVER:?}
here=$(cd "$(dirname "$0")" && pwd)
delay_ms=30

source "$here/../net/lab_lib.sh"
require_namespaces

make_work
lab_up "$here/accept_lab.sh" "qa$$" "$netbin" "$whois_server" "$work" "$delay_ms"



# Where the table puts the network's ranges (r3's link is never shown: r3 is silent).
austin="30.26715 -97.74306"; london="51.50853 -0.12574"; tokyo="35.6895 139.69171"; sydney="-33.86785 151.20732"
make_table() { # make_table [TOKYO_REGION]
  printf '%s\n' "192.0.2.0 192.0.2.255 US|United States|Texas|Austin	$austin" \
    "198.51.100.0 198.51.100.3 GB|United Kingdom|England|London	$london" \
    "198.51.100.4 198.51.100.7 DE|Germany|Hesse|Frankfurt am Main	50.11552 8.68417" \
    "198.51.100.8 198.51.100.11 JP|Japan|${1:-Tokyo}|Tokyo	$tokyo" \
    "203.0.113.0 203.0.113.255 AU|Australia|New South Wales|Sydney	$sydney" |
    "$netbin/quokka-make-geo-table" "$work/table.bin"
}

home="$work/home"
run_program() { # run_program ARGUMENTS...: the program in the client namespace, in the test's home
  in_client env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u APPDATA -u XDG_DESKTOP_DIR HOME="$home" \
    QT_QPA_PLATFORM=offscreen timeout 120 "$program" --geo-table "$work/table.bin" "$@" 2>>"$work/stderr"
}

# The steps a person takes at a desktop (a setup window to click, a close box) run on an X
# server and window manager of the test's own, with real input (tests/desktop/desktop_lib.sh).
use_desktop() {
  source "$here/../desktop/desktop_lib.sh"
  start_display 1280 1024
}

# on_desktop ARGUMENTS...: the program on that desktop in the client namespace, in the test's
# home, in the background; its report goes to $work/out, its log to $work/log.
on_desktop() {
  rm -f "$work/pid"
  ip netns exec "$prefix-client" env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u APPDATA -u XDG_DESKTOP_DIR \
    -u QT_QPA_PLATFORM HOME="$home" DISPLAY="$DISPLAY" XDG_RUNTIME_DIR="$work/runtime" \
    bash -c 'echo $$ > "$0"; exec timeout 120 "$@"' "$work/pid" "$program" --geo-table "$work/table.bin" "$@" \
    > "$work/out" 2> "$work/log" &
  desktop_run=$!
  for _ in $(seq 50); do [ -s "$work/pid" ] && break; sleep 0.1; done
}

wait_log() { # wait_log LINE: until the program's log has a line ending in LINE (at most 10 s)
  for _ in $(seq 1000); do grep -q -- "$1\$" "$work/log" && return; sleep 0.01; done
}

field() { sed -n "${2}p" <<< "$1" | cut -f2-; }
rtt() { cut -c11-20 <<< "$1" | sed 's/ms *$//'; }
hop() { printf '%-10s%-10s%-15s%s' "Hop $1" "$2ms" "$3" "$4"; }

check_route() { # check_route LABEL REPORT
  local trace lines total=0 i
  trace=$(grep '^trace' <<< "$2")
  check "$1: four hops and the final line" "5" "$(wc -l <<< "$trace")"
  local expected=("1 192.0.2.1 Home" "2 198.51.100.2 London, England, United Kingdom"
                  "4 198.51.100.10 Tokyo, Tokyo, Japan" "5 203.0.113.2 Sydney, New South Wales, Australia")
  for i in 0 1 2 3; do
    local line ttl address place ms
    line=$(field "$trace" $((i + 1)))
    read -r ttl address place <<< "${expected[$i]}"
    ms=$(rtt "$line")
    total=$((total + ms))
    check "$1: hop $ttl with its place" "$(hop "$ttl" "$ms" "$address" "$place")" "$line"
    if [ "$i" -gt 0 ] && { [ "$ms" -lt $((2 * delay_ms)) ] || [ "$ms" -ge 400 ]; }; then
      check "$1: hop $ttl is past the delaying wire" "${delay_ms}ms each way or more" "${ms}ms"
    fi
  done
  check "$1: final line with the total" "Route Complete, Total Round Trip Time ${total}ms" "$(field "$trace" 5)"
}


start_forger() { # start_forger [--in-time]
  : > "$work/forger"
  ip netns exec "$prefix-client" "$acceptbin/quokka-icmp-forger" c0 "$@" > "$work/forger" 2>&1 &
  helpers+=($!)
  for _ in $(seq 50); do grep -q ready "$work/forger" && return 0; sleep 0.1; done
  echo "the forger did not start"; cat "$work/forger"; exit 1
}

stop_forger() { # every kind of forgery went out at least once per probe that was sent
  kill -TERM "${helpers[-1]}"; wait "${helpers[-1]}" 2>/dev/null
  local kind
  for kind in echo-reply-wrong-id echo-reply-wrong-seq time-exceeded-wrong-id time-exceeded-wrong-seq \
              time-exceeded-truncated time-exceeded-garbage time-exceeded-quoting-udp echo-reply-other-source \
              time-exceeded-other-destination late-echo-reply late-time-exceeded; do
    local count
    count=$(awk -v k="$kind" '$1 == "sent" && $2 == k { print $3 }' "$work/forger")
    check "$1: forged $kind for every probe" "yes" "$([ "${count:-0}" -ge "$2" ] && echo yes || echo no)"
  done
}

forge() { # forge KIND COMMAND...
  local kind=$1; shift
  local out
  # Control: a matching report sent at once counts (it beats the second hop's answer across
  # the wire), so the forgeries do reach the tracer. On a busy machine the forger can wake too
  # late for one race, so it gets three; forgeries that never reach the tracer lose all three.
  local attempt control=""
  for attempt in 1 2 3; do
    start_forger --in-time
    out=$("$@" "$work/quokka-probe-route" 203.0.113.2 2)
    control=$(awk 'NR == 3 { print $1, $2 }' <<< "$out")
    kill -TERM "${helpers[-1]}"; wait "${helpers[-1]}" 2>/dev/null
    [ "$control" = "2 198.51.100.210" ] && break
  done
  check "$kind: control: a matching forged report in time counts" "2 198.51.100.210" "$control"
  start_forger
  out=$("$@" "$work/quokka-probe-route" 203.0.113.2)
  check "$kind: socket kind" "kind $kind" "$(head -n1 <<< "$out")"
  check "$kind: only the real hops, r3 silent" "192.0.2.1 198.51.100.2 Error 198.51.100.10 203.0.113.2 " \
    "$(awk 'NR > 1 { printf "%s ", $2 }' <<< "$out")"
  # Late forgeries for the last probe go out after it ended; let them, then count.
  sleep 0.6
  stop_forger "$kind" 5
  # A stall: the tracer (and its helper) stopped while probe 3 waits for silent r3, until past
  # the time-out and the late forgery's arrival. Read at once when they go on, the forgery
  # still came too late.
  start_forger
  "$@" "$work/quokka-probe-route" 203.0.113.2 3 > "$work/stalled" &
  local run=$!
  for _ in $(seq 1000); do grep -q '^2 ' "$work/stalled" && break; sleep 0.005; done
  pkill -STOP -f "^$work/quokka-"
  sleep 0.7
  pkill -CONT -f "^$work/quokka-"
  wait "$run"
  kill -TERM "${helpers[-1]}"; wait "${helpers[-1]}" 2>/dev/null
  check "$kind: a late forgery read after a stall is no answer" "3 Error" \
    "$(awk 'NR == 4 { print $1, $2 }' "$work/stalled")"
}

close_during() { # close_during PHASE READY_LINE STEP_LINE LISTED: the close box early in PHASE
  local started status elapsed pid main
  started=$(date +%s%N)
  on_desktop --explore accept.example --quit --report --verbose
  main=$(wait_window mainDialog 10)
  # The log says where the run is: "Whois" as WHOIS starts, a hop's address as its wait ends
  # and the next probe starts. Once every window is up (READY_LINE), the main dialog is
  # brought to the front and the pointer put on its close box, so that the click lands
  # within the step (a probe lasts 400 ms at most).
  wait_log "$2"
  activate "$main"
  geometry "$main"
  xdotool mousemove $((fx + fw - frame_top / 2 - 1)) $((fy + frame_top / 2))
  wait_log "$3"
  sleep 0.1
  xdotool click 1
  wait "$desktop_run"
  status=$?
  elapsed=$(( ($(date +%s%N) - started) / 1000000 ))
  pid=$(cat "$work/pid")
  echo "closed during $1: the program (pid $pid) ended after ${elapsed} ms in all"
  check "close during $1: the log showed the step" "yes" "$(grep -q -- "$3\$" "$work/log" && echo yes || echo no)"
  check "close during $1: the program ended on its own and well" "0" "$status"
  check "close during $1: process $pid is gone" "gone" "$([ -e "/proc/$pid" ] && echo present || echo gone)"
  check "close during $1: nothing is left in the client's namespace" "" "$(ip netns pids "$prefix-client")"
  check "close during $1: the run listed nothing past that step" "$4" "$(grep -c '^trace' "$work/out")"
  [ "$failures" -eq 0 ] || { echo "its report:"; cat "$work/out"; }
}

close() {
  make_table
  mkdir -p "$home"
  run_program --home 300,150
  use_desktop
  # WHOIS: IANA's name now points at a server that takes the query and never answers.
  : > "$work/ready-silent"
  ip netns exec "$prefix-whois" "$whois_server" 192.0.2.13 "$work/record-silent" silent > "$work/ready-silent" &
  helpers+=($!)
  for _ in $(seq 50); do [ -s "$work/ready-silent" ] && break; sleep 0.1; done
  sed -i 's/^192.0.2.11 /192.0.2.13 /' "/etc/netns/$prefix-client/hosts"
  close_during whois Whois Whois 0
  sed -i 's/^192.0.2.13 /192.0.2.11 /' "/etc/netns/$prefix-client/hosts"
  # A probe: the third router never answers, so its probe waits the whole 400 ms; it starts
  # when the second hop's wait ends.
  close_during "probe 3" 192.0.2.1 198.51.100.2 2
}

# --- the probe helper ---------------------------------------------------------------------

helper_pids() { pgrep -f "^$work/quokka-quokka-probe" | tr '\n' ' '; }

# The hop addresses of a report, and its last line cut to what every complete route says.
hops_of() { grep '^trace' <<< "$1" | awk -F'\t' '{ split($2, f, " +"); if (f[1] == "Hop") printf "%s ", f[4]; else print substr($2, 1, 14) }'; }

helper() {
  make_table
  in_client sysctl -qw net.ipv4.ping_group_range="1 0"
  cp "$program" "$netbin/quokka-probe-route" "$(dirname "$program")/quokka-quokka-probe" "$work/"
  chmod 755 "$work"/quokka-*
  setcap cap_net_raw+ep "$work/quokka-quokka-probe" || { echo "SKIP: setcap does not work here"; exit 77; }
  local user="$work/user" theirs out
  mkdir -p "$user" && chown nobody:nogroup "$user"
  local user_env=(env HOME="$user" XDG_CONFIG_HOME="$user/config" XDG_DATA_HOME="$user/data" QT_QPA_PLATFORM=offscreen)
  as_nobody "${user_env[@]}" "$work/quokka-quokka" --home 300,150

  # The same route as Debian's traceroute finds as root (a silent hop is not listed).
  theirs=$(in_client traceroute -I -n -q 1 -w 1 -m 29 203.0.113.2 |
           awk 'NR > 1 && $2 != "*" { printf "%s ", $2 } END { print "Route Complete" }')
  out=$(as_nobody "${user_env[@]}" timeout 60 "$work/quokka-quokka" --geo-table "$work/table.bin" \
        --explore accept.example --quit --report 2>>"$work/stderr")
  check "helper: the program as nobody traces the route traceroute -I finds" "$theirs" "$(hops_of "$out")"
  check_route "helper: the program as nobody" "$out"
  check "helper: no helper is left" "" "$(helper_pids)"

  # While a run goes on: the helper holds nothing; killing the program ends it.
  as_nobody "${user_env[@]}" timeout 60 "$work/quokka-quokka" --geo-table "$work/table.bin" \
    --explore accept.example --quit > /dev/null 2>&1 &
  local run=$! pid=""
  for _ in $(seq 50); do pid=$(helper_pids) && [ -n "$pid" ] && break; sleep 0.1; done
  check "helper: started by the program" "yes" "$([ -n "$pid" ] && echo yes || echo no)"
  pid=${pid%% *}
  check "helper: no capability left once its socket is open" "0000000000000000 0000000000000000 nobody" \
    "$(awk '/^CapEff|^CapPrm/ { printf "%s ", $2 }' "/proc/$pid/status")$(ps -o user= -p "$pid")"
  pkill -KILL -f "^$work/quokka-quokka " ; wait "$run" 2>/dev/null
  sleep 0.5
  check "helper: ends when the program is killed" "" "$(helper_pids)"

  # Twenty runs, five at a time: none leaves its helper behind.
  local batch i runs
  for batch in 1 2 3 4; do
    runs=()
    for i in 1 2 3 4 5; do
      as_nobody "${user_env[@]}" timeout 60 "$work/quokka-quokka" --geo-table "$work/table.bin" \
        --explore 192.0.2.1 --quit --report > "$work/run-$batch-$i" 2>/dev/null &
      runs+=($!)
    done
    wait "${runs[@]}"
  done
  check "helper: twenty runs each reached the first router" "20" \
    "$(cat "$work"/run-* | grep -c '^trace.Route Complete')"
  check "helper: no helper is left after twenty runs" "" "$(helper_pids)"

  # Forged and stray packets never become hops through the helper either.
  forge helper as_nobody

  # Hostile callers: malformed, refused and flooding requests, watched on the client's link.
  in_client "$acceptbin/quokka-helper-hostile-test" "$work/quokka-quokka-probe" c0 || failures=$((failures + 1))

  # The per-user copy a first run makes traces through the same helper.
  mkdir -p "$home/Desktop"
  program="$work/quokka-quokka"
  use_desktop
  on_desktop --explore accept.example --quit
  local setup
  setup=$(wait_window setup 30) && click_at "$setup" 300 150
  wait "$desktop_run"
  local copy="$home/.local/share/Quokka Quokka/quokka-quokka"
  check "helper: the first run links the helper beside the copy" "$work/quokka-quokka-probe" \
    "$(readlink "$(dirname "$copy")/quokka-quokka-probe")"
  chmod -R a+rX "$home"
  out=$(as_nobody env HOME="$home" QT_QPA_PLATFORM=offscreen timeout 60 "$copy" --geo-table "$work/table.bin" \
        --explore accept.example --quit --report 2>>"$work/stderr")
  check "helper: the per-user copy as nobody traces the route traceroute -I finds" "$theirs" "$(hops_of "$out")"
}

# --- host names and networks --------------------------------------------------------------

decimal() { local IFS=.; set -- $1; echo $(( ($1 << 24) + ($2 << 16) + ($3 << 8) + $4 )); }

# The AS table: the last network's name holds an escape character, which the table builder
# refuses in a source; it is put into the built table in place of a marker of the same length.
make_as_table() {
  local row
  for row in "192.0.2.0 192.0.2.255 64500 Client Side Net" "198.51.100.0 198.51.100.255 64501 Transit Net" \
             "203.0.113.0 203.0.113.255 64511 Evil#[31m Corp"; do
    read -r first last number name <<< "$row"
    echo "$(decimal "$first"),$(decimal "$last"),$number,$name"
  done > "$work/as.csv"
  "$QUOKKA_ASTABLE" --build "$work/as.csv" "$work/as.bin" > /dev/null &&
    sed -i 's/Evil#\[31m Corp/Evil\x1b[31m Corp/' "$work/as.bin"
}

# names_run LABEL ARGUMENTS...: the program with --report --json -, each line behind its
# monotonic time in ms ($work/LABEL), the JSON alone in $work/LABEL.json; $work/LABEL.end
# holds the time the program had ended by.
names_run() {
  local label=$1; shift
  run_program --as-table "$work/as.bin" --quit --report --json - "$@" | "$QUOKKA_DESKTOP_CHECK" stamp > "$work/$label"
  "$QUOKKA_DESKTOP_CHECK" now > "$work/$label.end"
  cut -f2- "$work/$label" | sed -n '/^{$/,/^}$/p' > "$work/$label.json"
}
kind_of() { awk -F'\t' -v k="$2" '$2 == k' "$work/$1"; } # kind_of LABEL KIND: stamped lines of that kind
# The hops' addresses, names and networks as the JSON of LABEL encodes them (its keys sorted),
# a line per hop.
json_hops() {
  grep -E '^ +"(address|as_name|asn|hostname)": ' "$work/$1.json" | sed -E 's/^ +//; s/,$//' | paste -d' ' - - - -
}

# The order of a run's report: each hop's detail line after its own line, before the next.
check_detail_order() { # check_detail_order LABEL
  check "$1: each hop's details between its line and the next" \
    "trace 1 detail 1 trace 2 detail 2 trace 4 detail 4 trace 5 detail 5 trace Route" \
    "$(awk -F'\t' '$2 == "trace" { split($3, f, " "); printf "trace %s ", f[1] == "Hop" ? f[2] : f[1] }
                   $2 == "detail" { printf "detail %s ", $3 }' "$work/$1" | sed 's/ $//')"
}

# The hop lines' times of LABEL, in ms from its first hop line.
hop_times() { kind_of "$1" trace | awk -F'\t' '$3 ~ /^Hop / { if (!n++) t = $1; printf "%d ", $1 - t }'; }

# Text from strangers in a terminal: what cat -v makes of it, so that a failed check shows the
# bytes instead of acting on them.
shown() { cat -v <<< "$1"; }

names() {
  # Tokyo's region holds an escape sequence and a line feed (the builder takes no line feed:
  # it replaces a marker of the same length), the registry's answer a line of control
  # characters; the trace and WHOIS report lines show them visible, the JSON exact.
  make_table $'Kanto\e[2J~Bay' && sed -i 's/\x1b\[2J~Bay/\x1b[2J\nBay/' "$work/table.bin"
  printf 'remarks:        \e]0;owned\a\tx\ry\xc2\x9b2J end\n' >> "$work/registry.txt"
  make_as_table || { echo "the AS table could not be made"; exit 1; }
  mkdir -p "$home"
  run_program --home 300,150
  local hosts="/etc/netns/$prefix-client/hosts" rtts places i out
  printf '%s\n' "192.0.2.1 <i>tag</i>.example" "198.51.100.2 =cmd|calc.example" "198.51.100.10 r4.accept.example" >> "$hosts"

  names_run named --explore accept.example
  check_detail_order named
  rtts=($(kind_of named trace | awk -F'\t' '$3 ~ /^Hop / { print substr($3, 11, 10) + 0 }'))
  places=("Home" "London, England, United Kingdom" "Tokyo, Kanto␛[2J␊Bay, Japan" "Sydney, New South Wales, Australia")
  local hops=("1 192.0.2.1" "2 198.51.100.2" "4 198.51.100.10" "5 203.0.113.2")
  local named=("<i>tag</i>.example	64500	Client Side Net" "=cmd|calc.example	64501	Transit Net"
               "r4.accept.example	64501	Transit Net" "accept.example	64511	Evil␛[31m Corp")
  for i in 0 1 2 3; do
    check "named: hop ${hops[$i]%% *}'s detail line, its texts visible" \
      "$(printf '%s\t%s\t%s\t%s' "${hops[$i]/ /	}" "${named[$i]}" "${places[$i]}" "${rtts[$i]}")" \
      "$(kind_of named detail | sed -n "$((i + 1))p" | cut -f3-)"
  done
  check "named: the JSON from --json - holds each hop's name and network exactly" \
    "$(printf '"address": "%s" "as_name": "%s" "asn": %s "hostname": "%s"\n' \
       192.0.2.1 "Client Side Net" 64500 "<i>tag</i>.example" 198.51.100.2 "Transit Net" 64501 "=cmd|calc.example" \
       198.51.100.10 "Transit Net" 64501 r4.accept.example 203.0.113.2 'Evil\u001b[31m Corp' 64511 accept.example)" \
    "$(json_hops named)"
  check "named: hop 4's trace line shows the table's texts visible" \
    "$(shown "$(hop 4 "${rtts[2]}" 198.51.100.10 "${places[2]}")")" \
    "$(shown "$(kind_of named trace | sed -n 3p | cut -f3-)")"
  check "named: the registry's line of control characters, visible in its whois line" \
    "$(shown 'remarks:        ␛]0;owned␇␉x␍y<U+009B>2J end')" "$(shown "$(kind_of named whois | grep remarks | cut -f3-)")"
  check "named: the JSON holds the region and the WHOIS line exactly" "1 1" \
    "$(grep -cF '"region": "Kanto\u001b[2J\nBay"' "$work/named.json") $(grep -cF \
       "\"remarks:        \\u001b]0;owned\\u0007\\tx\\ry$(printf '\xc2\x9b')2J end\"" "$work/named.json")"

  # A pasted name with control characters that does not resolve: its trace line shows them.
  names_run unknown --explore $'no\e]0;x\a\nsuch.example'
  check "unknown: one trace line, the name visible in it" \
    "$(shown 'Cannot find an IPv4 address for "no␛]0;x␇␊such.example"')" "$(shown "$(kind_of unknown trace | cut -f3-)")"
  check "unknown: the JSON holds the name exactly" "1" \
    "$(grep -cF '"domain": "no\u001b]0;x\u0007\nsuch.example"' "$work/unknown.json")"

  # Hop 2 and the target now have no hosts entry, and the one name server takes queries and
  # never answers; by the resolver's own settings (5 s, twice) each lookup would last 10 s.
  sed -i '/^198.51.100.2 \|^203.0.113.2 /d' "$hosts"
  printf 'nameserver 127.0.0.1\n' > "/etc/netns/$prefix-client/resolv.conf"
  : > "$work/resolver"
  ip netns exec "$prefix-client" "$acceptbin/quokka-silent-resolver" 127.0.0.1 > "$work/resolver" & helpers+=($!)
  for _ in $(seq 50); do grep -q ready "$work/resolver" && break; sleep 0.1; done
  names_run silent --explore 203.0.113.2
  check_detail_order silent
  check "silent: the lookups went to the name server" "yes" "$([ "$(grep -c query "$work/resolver")" -ge 2 ] && echo yes || echo no)"
  check "silent: no name for hop 2 and the target in the report" "2,,5,," \
    "$(kind_of silent detail | sed -n '2p;4p' | cut -f3,5 | tr '\t\n' ',,')"
  check "silent: nor in the JSON" '"hostname": null "hostname": null' \
    "$(json_hops silent | sed -n '2p;4p' | grep -o '"hostname": .*' | paste -sd' ')"
  # The same pace as with every name at hand: the hop lines come at the same times.
  local named_times silent_times off
  named_times=$(hop_times named) silent_times=$(hop_times silent)
  off=$(awk -v a="$named_times" -v b="$silent_times" 'BEGIN { n = split(a, x, " "); split(b, y, " ");
    for (i = 2; i <= n; ++i) if (y[i] - x[i] > 150 || x[i] - y[i] > 150 || y[i] - y[i - 1] < 2000) print "off"; }')
  check "silent: hop lines at the times of the named run (named ${named_times}ms, silent ${silent_times}ms)" "" "$off"
  local ended=$(( $(cat "$work/silent.end") - $(kind_of silent trace | tail -n1 | cut -f1) ))
  check "silent: the program ends at once after its run (${ended} ms), no lookup holds it" "yes" \
    "$([ "$ended" -lt 1000 ] && echo yes || echo no)"

  # A JSON file that cannot be written is said so, and the exit status is not 0.
  out=$(in_client env HOME="$home" QT_QPA_PLATFORM=offscreen timeout 60 "$program" --explore "" --quit \
        --json /proc/no-such-folder/run.json 2>&1 >/dev/null)
  check "an unwritable JSON file: exit status 1 and a message" "1 1" \
    "$? $(grep -c 'JSON report could not be written to /proc/no-such-folder/run.json' <<< "$out")"
}

bench() {
  make_table
  mkdir -p "$home"
  in_client env HOME="$home" QT_QPA_PLATFORM=offscreen "$acceptbin/quokka-accept-phase-bench" accept.example "$work/table.bin"
  [ $? -eq 0 ] || failures=$((failures + 1))
  echo "(taken beside other tests; load average over the last minute: $(cut -d" " -f1 /proc/loadavg))"
}

case "$scenario" in
forge_raw) cp "$netbin/quokka-probe-route" "$work/"; forge raw in_client ;;
forge_ping)
  in_client sysctl -qw net.ipv4.ping_group_range="0 2147483647"
  cp "$netbin/quokka-probe-route" "$work/" && chmod 755 "$work/quokka-probe-route"
  forge ping as_nobody ;;
close) close ;;
helper) helper ;;
names) names ;;
bench) bench ;;
*) echo "unknown scenario $scenario"; exit 2 ;;
esac

[ "$failures" -eq 0 ] || { cat "$work/stderr" 2>/dev/null | tail -n 20; exit 1; }
