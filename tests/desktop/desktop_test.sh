#!/usr/bin/env bash
# The whole program as a person meets it on a desktop: an X server and a window manager of
# the test's own, real key presses and clicks, and only what the screen shows (and the
# program's --report lines) to judge by. The program explores accept.example (dual.example in
# ipv6) in the namespace network of tests/accept/accept_lab.sh (hops 1, 2, 4 and 5, two
# seconds' pause after each).
#   explore      runs started by Enter and by Explore, windows of earlier runs up; Explore
#                greyed in a run; keys in the main dialog never reach a result window; Enter,
#                Esc, "All Done" and the close box on each kind of result window
#   windows      placement and sizes at 1024x768; markers; labels, lists and scroll bar; the
#                main dialog raised above the map; minimise and restore each window; a name
#                typed with a non-ASCII letter
#   close        "All Done", the close box and Alt+F4 end the program; the About box
#                from F1 and from the context menu, and its ways out
#   first_run    the notices ignore keys and clicks; the setup answered with Esc, with its
#                close box (nothing stored, the next run asks again) and with a click; the
#                copy and launchers it installs, never again once a home is stored; WHOIS
#                with a referral, each server asked once a run
#   pace         the About box, the context menu and replays during a run keep its pace;
#                "Trace Route" in and after a run, twice, and with the map hidden meanwhile
#   screen_1920  a first run on a 1920x1080 screen: placement, markers, every text whole
#   screen_3840  the same on 3840x2160 with the program at QT_SCALE_FACTOR=2
#   details      a hop's tooltip on its trace line and on its map marker; "Copy Line" on a
#                red WHOIS line and "Copy All" on the trace, read back from the clipboard;
#                "Save Report..." as JSON and as CSV, read back field by field
#   reader       what a screen reader reads over AT-SPI: the field's name, a name for each
#                window and list, each hop's details as its row's description; a WHOIS line
#                that turns its text round drawn as it reads; the current WHOIS row framed
#                while the list has the keyboard focus; a tooltip wider than the screen
#                broken to fit, with the next row's tooltip still reachable; the home
#                marker's tooltip
#   keys         the main dialog: no maximising, its least size; the About box without a
#                window icon; Enter on a focused button presses it; the result windows leave
#                the keyboard in the main dialog and Enter there explores again; the busy
#                pointer while the WHOIS record is fetched; Shift+F10 opens the focused
#                window's menu and Esc closes only that; a menu item by its mnemonic; the
#                WHOIS window's "Save Report..."
#   monitor      "Monitor Route" from the trace window by a right click and by Shift+F10: the
#                Route Monitor's rows and timeline on the screen, Pause (the table stands
#                still) and Resume, "Save Report..." read back, a monitor closed during its
#                rounds, and the program's end under a second with no process left
#   ipv6         "Prefer IPv6" clicked on the main dialog's context menu; dual.example traced
#                over IPv6: traceroute -6 -I's hops, the address column's width, the IPv6
#                table's places in the lines and on the map, WHOIS asked for the IPv6
#                address; after a restart the menu's check mark (pixels), clicked off, and the
#                next run over IPv4
# Needs root (namespaces; skipped otherwise) and Xvfb, openbox, xdotool, x11-utils,
# imagemagick and, for details, xclip and python3, for reader, dbus-daemon, at-spi2-core and
# python3-pyatspi (fails without them). QUOKKA_DESKTOP_DIALOG_FONT="FACE:TENTHS" names the face
# the dialogs' texts are looked for in (Liberation Sans:80 by default). On failure, or with
# QUOKKA_DESKTOP_KEEP_SHOTS set, the screenshots are kept in desktop-output/SCENARIO under the
# working folder.
set -uo pipefail

scenario=$1
program=${QUOKKA_PROGRAM:?}
netbin=${QUOKKA_NET_BIN:?}
whois_server=${QUOKKA_WHOIS_SERVER:?}
here=$(cd "$(dirname "$0")" && pwd)
output=${QUOKKA_DESKTOP_OUTPUT:-$PWD/desktop-output}/$scenario

source "$here/../net/lab_lib.sh"
require_namespaces

make_work
home="$work/home"
prefix="qd$$" # desktop_lib.sh runs the program in this lab's client
source "$here/desktop_lib.sh"
rm -rf "$output"
lab_up "$here/../accept/accept_lab.sh" "$prefix" "$netbin" "$whois_server" "$work" 30

# The places the table gives the network's ranges, as the markers' latitude,longitude; the
# markers a map of the lab's route shows.
austin=30.26715,-97.74306 london=51.50853,-0.12574 tokyo=35.6895,139.69171 sydney=-33.86785,151.20732
places=($austin $london $tokyo "$sydney,dest")
printf '%s\n' "192.0.2.0 192.0.2.255 US|United States|Texas|Austin	${austin/,/ }" \
  "198.51.100.0 198.51.100.3 GB|United Kingdom|England|London	${london/,/ }" \
  "198.51.100.8 198.51.100.11 JP|Japan|Tokyo|Tokyo	${tokyo/,/ }" \
  "203.0.113.0 203.0.113.255 AU|Australia|New South Wales|Sydney	${sydney/,/ }" |
  "$netbin/quokka-make-geo-table" "$work/table.bin" || exit 1
route=("Hop 1 +[0-9]+ms +192\.0\.2\.1 +Home" "Hop 2 +[0-9]+ms +198\.51\.100\.2 +London, England, United Kingdom"
       "Hop 4 +[0-9]+ms +198\.51\.100\.10 +Tokyo, Tokyo, Japan"
       "Hop 5 +[0-9]+ms +203\.0\.113\.2 +Sydney, New South Wales, Australia" "Route Complete, Total Round Trip Time [0-9]+ms")
domain=accept.example
roles=(worldMap traceData whoisLookup)

# --- steps the scenarios share -----------------------------------------------------------

# The trace lines of run N (counted from 1 in this program's report).
run_lines() { report trace | sed -n "$((5 * $1 - 4)),$((5 * $1))p"; }

check_route() { # check_route N: run N listed the lab's route
  local lines i ok=yes
  lines=$(run_lines "$1")
  for i in 0 1 2 3 4; do
    grep -Eq "^${route[$i]}\$" <<< "$(sed -n "$((i + 1))p" <<< "$lines")" || ok="no: $(tr '\n' '|' <<< "$lines")"
  done
  check "run $1: the trace lists the lab's route" yes "$ok"
  # Each time is a real round trip: past the delaying wire (30 ms each way) beyond the first
  # hop, within the probe's 400 ms, and the total is their sum.
  local rtts total=0 ms
  rtts=$(head -n4 <<< "$lines" | cut -c11-20 | sed 's/ms *$//')
  for ms in $rtts; do total=$((total + ms)); done
  check "run $1: hops past the wire took 60 to 399 ms" yes \
    "$(tail -n3 <<< "$rtts" | awk '$1 < 60 || $1 >= 400 { bad = 1 } END { print bad ? "no" : "yes" }')"
  check "run $1: the total is the hops' sum" "Route Complete, Total Round Trip Time ${total}ms" "$(sed -n 5p <<< "$lines")"
}

# The pauses between run N's hop lines, in ms; each is the two-second wait plus a probe.
check_pace() { # check_pace N WHAT
  local gaps bad
  gaps=$(awk -F'\t' '$2 == "trace" && $3 ~ /^Hop / { print $1 }' "$work/report" | sed -n "$((4 * $1 - 3)),$((4 * $1))p" |
    awk 'NR > 1 { printf "%d ", $1 - last } { last = $1 }')
  bad=$(awk '{ for (i = 1; i <= NF; ++i) if ($i < 1900 || $i >= 3000) n++; print (NF == 3 && !n) ? "" : "off" }' <<< "$gaps")
  check "run $1: $2, its hop lines still come 2 s apart (gaps ${gaps}ms)" "" "$bad"
}

set_home() { ip netns exec "$prefix-client" env HOME="$home" "$program" --home "$1"; }
conf="$home/.config/Local AppWizard-Generated Applications/quokka-quokka.conf"
stored_home() { cat "$conf" 2>/dev/null | grep -c '^Data='; }

# Starts a run as a person would: a click into the field (just below its label), the name
# typed over what is there, then Enter or a click on Explore. The run's windows then become
# map, trace and whois (new_windows).
start_run() { # start_run enter|click
  local file
  run=$((run + 1)) started=yes
  shot_of "$main" field
  if find_text "$file" "$main" "$face" "$tenths" "Domain to Explore"; then
    click_screen $((text_x + 20)) $((line_bottom + 16 * scale))
  fi
  xdotool key --clearmodifiers ctrl+a && xdotool type --delay 30 "$domain"
  shot_of "$main" typed
  check_text "run $run: the field shows $domain" "$file" "$main" "$face" "$tenths" "$domain"
  if [ "$1" = enter ]; then xdotool key Return; else click_text "$main" Explore pick=last || started=no; fi
}

new_windows() { # waits for a window of each result role that was not there before
  map="" trace="" whois=""
  if [ "$started" = yes ]; then
    map=$(wait_window worldMap 20 "${known[@]}") && trace=$(wait_window traceData 5 "${known[@]}") &&
      whois=$(wait_window whoisLookup 5 "${known[@]}")
  fi
  check "run $run opened a map, a trace and a WHOIS window" yes \
    "$([ -n "$map" ] && [ -n "$trace" ] && [ -n "$whois" ] && echo yes || echo no)"
  known+=($map $trace $whois)
}

finish_run() { # waits for the run's last line (when it opened its windows), checks its route
  [ -z "$map" ] || wait_runs_done "$run" 30 || echo "run $run did not finish in 30 s"
  check_route "$run"
}

whole_run() { start_run "$1"; new_windows; finish_run; }

follow_run() { # a run that the last key pressed may have started: its windows, its end
  if [ "$(report whois | grep -c '^% Test registry')" -gt "$run" ]; then
    run=$((run + 1)) started=yes
    new_windows
    finish_run
  fi
}

wait_hops() { # wait_hops N: until the current run has listed N hop lines
  local want=$(( ($run - 1) * 5 + $1 ))
  [ -n "$map" ] || return 1
  for _ in $(seq 150); do [ "$(report trace | wc -l)" -ge "$want" ] && return 0; sleep 0.1; done
  return 1
}

all_viewable() { # all_viewable WHAT WINDOW...: each of the windows is on the screen
  local what=$1 w bad=""
  shift
  for w in "$@"; do [ "$(state "$w")" = viewable ] || bad+=" $w:$(state "$w")"; done
  check "$what" "" "$bad"
}

# Where a window's frame lies against where its rule puts it on this screen.
check_place() { # check_place WHAT WINDOW RULE: RULE is centre, trace, whois or over-main
  local what=$1 w=$2 x y slack=$((scale > 1 ? 2 : 0)) owner=""
  # Centring over a frame of even width can fall either side of its middle pixel.
  [ "$3" = over-main ] && slack=$((slack + 1))
  wait_settled "$w"
  case $3 in
    centre) x=$((screen_w / 2 - fw / 2)) y=$((screen_h / 2 - fh / 2)) ;;
    trace) x=$((screen_w / 2 - fw / 2 - 250 * scale)) y=$((screen_h / 2 - fh / 2 - 250 * scale)) ;;
    whois) x=$((screen_w / 2 - fw / 2 + 540 * scale)) y=$((screen_h / 2 - fh / 2 - 100 * scale)) ;;
    over-main) local nx=$fx ny=$fy nw=$fw nh=$fh
       # The owner's frame as it stands once it, too, has settled.
       wait_settled "$main"; x=$((fx + fw / 2 - nw / 2)) y=$((fy + fh / 2 - nh / 2))
       owner="main dialog's frame ${fw}x$fh at $fx,$fy; "
       fx=$nx fy=$ny fw=$nw fh=$nh ;;
  esac
  x=$((x > screen_w - fw ? screen_w - fw : x)) y=$((y > screen_h - fh ? screen_h - fh : y))
  x=$((x < 0 ? 0 : x)) y=$((y < 0 ? 0 : y))
  local off="" dx=$((fx - x)) dy=$((fy - y))
  [ "${dx#-}" -le "$slack" ] && [ "${dy#-}" -le "$slack" ] || off="${owner}at $fx,$fy"
  check "$what: its frame (${fw}x$fh) at $x,$y on the ${screen_w}x$screen_h screen" "" "$off"
}

check_result_windows() { # the run's map, trace and WHOIS windows: places, sizes, markers, faces
  check_place "map" "$map" centre
  check_place "trace" "$trace" trace
  check_place "WHOIS" "$whois" whois
  check_size "map" "$map" 899 535
  check_size "trace" "$trace" 731 163
  check_size "WHOIS" "$whois" 431 546
  check_map map 300,150
  check_faces
}

check_size() { # check_size WHAT WINDOW WIDTH HEIGHT: the client area, at scale 1
  geometry "$2"
  check "$1: client area" "$(($3 * scale))x$(($4 * scale))" "${cw}x$ch"
}

check_map() { # check_map WHAT HOME [only-dest-green]: markers and lines of the map window
  local file out
  shot_of "$map" "$1"
  out=$(look map "$file" "$cx" "$cy" "$2" "${places[@]}" "${@:3}")
  sed "s/^\([a-zA-Z]*\): map:/\1: $1:/" <<< "$out"
  failures=$((failures + $(grep -c '^FAIL' <<< "$out")))
}

# The parts every window shows, read off a screenshot of each: no clipped text, lists that
# end above their buttons with whole rows, the newest trace line selected and whole.
check_faces() {
  local file i line last=0 pitch=0 first_y=0 x0 y0 x1 y1 bar
  shot_of "$map" map-face
  check_text "map: \"Trace Route\" whole" "$file" "$map" "Liberation Sans" 90 "Trace Route"
  check_text "map: \"All Done\" whole" "$file" "$map" "$face" "$tenths" "All Done"
  shot_of "$trace" trace-face
  for i in 1 2 3 4 5; do
    line=$(run_lines "$run" | sed -n "${i}p")
    if [ "$i" = 5 ]; then
      check_text "trace: the newest line selected and whole" "$file" "$trace" "Liberation Mono" 90 "$line" fg=ffffff
    else
      check_text "trace: line $i whole" "$file" "$trace" "Liberation Mono" 90 "$line"
    fi
    [ "$i" = 1 ] && { last=$((text_x + text_w)); first_y=$line_top; }
    [ "$i" = 2 ] && pitch=$((line_top - first_y))
  done
  if list_at "trace" "$file" $((last + 12)) $((first_y + 2)); then
    check "trace: no vertical scroll bar with five lines" none "$bar"
    local r=$(( pitch > 0 ? y1 - y0 + 1 - (y1 - y0 + 1 + pitch / 2) / pitch * pitch : 99 ))
    check "trace: the list shows whole rows ($((y1 - y0 + 1)) px, rows $pitch px apart)" yes \
      "$([ "${r#-}" -le 2 ] && echo yes || echo no)"
    above_button "trace" "$file" "$trace" "$y1"
  fi
  shot_of "$whois" whois-face
  list_at "WHOIS" "$file" $((cx + cw / 2)) $((cy + ch / 2)) && above_button "WHOIS" "$file" "$whois" "$y1"
}

list_at() { # list_at NAME SHOT X Y: the white list area there; sets x0 y0 x1 y1 and bar
  local kind
  read -r kind x0 y0 x1 y1 bar <<< "$(look list "$2" "$3" "$4")"
  [ "$kind" = list ] && return 0
  check "$1: a white list at $3,$4" yes no
  return 1
}

above_button() { # above_button NAME SHOT WINDOW LIST_BOTTOM: the list ends above "All Done"
  local top bottom
  if check_text "$1: \"All Done\" whole" "$2" "$3" "$face" "$tenths" "All Done"; then
    read -r _ top bottom <<< "$(look button "$2" "$text_x" "$text_y" "$text_w" "$line_top" "$line_bottom")"
    check "$1: the list (down to $4) ends above its \"All Done\" button (from ${top:-?})" yes \
      "$([ -n "$top" ] && [ "$4" -lt $((top - 1)) ] && echo yes || echo no)"
  fi
}

# --- scenarios ---------------------------------------------------------------------------

scenario_explore() {
  start_display 1024 768
  set_home 300,150
  start_program
  local file dark bg ex ey ew eh
  shot_of "$main" idle
  check_text "main dialog: the label whole" "$file" "$main" "$face" "$tenths" "Domain to Explore (example.com, .net, .org, etc)"
  check_text "main dialog: Explore whole" "$file" "$main" "$face" "$tenths" Explore pick=last
  ex=$text_x ey=$text_y ew=$text_w eh=$text_h
  check_text "main dialog: All Done whole" "$file" "$main" "$face" "$tenths" "All Done"

  # Run 1, by Enter. In it: Explore greyed; a click on it and Enter in the field do nothing.
  start_run enter
  new_windows
  shot_of "$main" running
  read -r dark bg <<< "$(look ink "$file" "$ex" "$ey" "$ew" "$eh")"
  find_text "$file" "$main" "$face" "$tenths" "All Done" || dark="the main dialog does not show"
  check "run 1: Explore's label is greyed (its darkest pixel light, was black)" yes \
    "$([ "${ew:-0}" -gt 0 ] && [ "$dark" -ge 100 ] 2>/dev/null && [ "$dark" -le $((bg - 20)) ] && echo yes || echo "no: $dark")"
  click_screen $((ex + ew / 2)) $((ey + eh / 2))
  keys "$main" Return
  all_viewable "run 1: Enter in the field leaves the result windows up" $map $trace $whois
  finish_run
  sleep 2.5
  check "run 1: neither the click nor Enter started a second run" "1 1" \
    "$(windows_of worldMap | wc -l) $(report whois | grep -c '^% Test registry')"
  all_viewable "run 1: its windows stay up after it" "${known[@]}"

  # Run 2 by Enter, runs 3 and 4 by Explore, each with the windows of the earlier ones up.
  whole_run enter
  all_viewable "run 2: the windows of both runs are up" "${known[@]}"
  whole_run click
  all_viewable "run 3: the windows of all runs are up" "${known[@]}"
  # Focus is back on Explore: Enter hides nothing, Space does not end the program (either
  # presses Explore, and the run it starts is followed to its end).
  keys "$main" Return
  sleep 1
  all_viewable "after a run started by Explore, Enter in the main dialog hides nothing" "${known[@]}"
  follow_run
  keys "$main" space
  sleep 1
  check "after a run started by Explore, Space leaves the program running" yes "$(running && echo yes || echo no)"
  if running; then follow_run; else start_program; whole_run enter; fi
  whole_run click
  all_viewable "run $run: the windows of all runs are up" "${known[@]}"

  # Each way out on each kind of result window, one kind of window per run's set.
  local ways=(Escape Return close-box all-done) i j w way
  local sets=$(( ${#known[@]} / 3 ))
  for ((i = 0; i < sets && i < 4; ++i)); do
    for j in 0 1 2; do
      w=${known[$((3 * i + j))]} way=${ways[$(( (i + j) % 4 ))]}
      case $way in
        all-done) click_text "$w" "All Done" ;;
        close-box) close_box "$w" ;;
        *) keys "$w" "$way" ;;
      esac
      sleep 0.3
      check_state "${roles[$j]} of run $((i + 1)): $way hides it" "$w" closed
    done
  done
  all_viewable "the hidden windows took no other window along" "$main" "${known[@]:$((3 * sets > 12 ? 12 : 3 * sets))}"
  check "the program runs on with its result windows hidden" yes "$(running && echo yes || echo no)"
  local left=(${known[@]:12})
  [ ${#left[@]} -gt 0 ] || { whole_run enter; left=($map $trace $whois); }
  keys "$main" Escape
  check "Esc in the main dialog ends the program" yes "$(wait_ended 5 && echo yes || echo no)"
  check "and its result windows go with it" "$(for w in "${left[@]}"; do echo gone; done | xargs)" \
    "$(for w in "${left[@]}"; do state "$w"; done | xargs)"
}

scenario_windows() {
  start_display 1024 768
  set_home 300,150
  echo "203.0.113.2 xn--bcher-kva.example" >> "/etc/netns/$prefix-client/hosts"
  start_program
  local idle
  shot_of "$main" idle
  idle=$file
  local mx=$cx my=$cy mw=$cw mh=$ch
  check_size "main dialog" "$main" 392 111
  # Started with Explore, so that nothing the Enter key does can take the windows away. The
  # layout has ü on a key of its own: xdotool would bind it to a spare key just for the
  # moment of the press, and the program may read the keymap only after that.
  setxkbmap -layout de && sleep 1
  domain="bücher.example"
  whole_run click
  setxkbmap -layout us
  check "a name typed with ü reached the target" "203.0.113.2" "$(run_lines 1 | awk 'NR == 4 { print $4 }')"
  domain=accept.example

  check_result_windows

  # The main dialog raised above the centred map: where they overlap, the main dialog shows.
  activate "$main"
  local file
  shot main-raised
  geometry "$map"
  local over=$(( mx + mw > fx && mx < fx + fw && my + mh > fy && my < fy + fh ? 1 : 0 ))
  check "the main dialog lies where the map is" 1 "$over"
  check "raised, the main dialog shows above the map (same pixels as before the run)" yes \
    "$([ "$(look same "$idle" "$mx" "$my" "$file" "$mx" "$my" $((mw / 5)) "$mh")" -ge 95 ] && echo yes || echo no)"

  # Minimise each window: the others stay; restore it: it is back.
  local names=(main map trace WHOIS) all=("$main" "$map" "$trace" "$whois") i
  for i in 0 1 2 3; do
    minimise "${all[$i]}"
    check_state "${names[$i]}: minimised" "${all[$i]}" iconic
    all_viewable "${names[$i]} minimised: the others stay up" "${all[@]:0:$i}" "${all[@]:$((i + 1))}"
    activate "${all[$i]}"
    check_state "${names[$i]}: restored" "${all[$i]}" viewable
  done
}

scenario_close() {
  start_display 1024 768
  start_program
  local about file way from
  # The About box: F1 or the context menu; Enter, Esc, OK and its close box close it.
  for way in Return Escape ok close-box; do
    case $way in
      Return|ok) from=F1; keys "$main" F1 ;;
      *) from="the context menu"; about_from_menu ;;
    esac
    about=$(wait_window aboutDialog 5)
    check "About shows (from $from)" yes "$([ -n "$about" ] && echo yes || echo no)"
    [ -n "$about" ] || continue
    if [ "$way" = Return ]; then
      check "About: its title" "About Quokka Quokka" "$(xprop -id "$about" WM_NAME | cut -d'"' -f2)"
      shot_of "$about" about
      check_text "About: the version whole" "$file" "$about" "$face" "$tenths" "Quokka Quokka, Version 1.0"
      check_text "About: OK whole" "$file" "$about" "$face" "$tenths" "OK"
    fi
    case $way in
      ok) click_text "$about" OK ;;
      close-box) close_box "$about" ;;
      *) keys "$about" "$way" ;;
    esac
    check_state "About: $way closes it" "$about" closed
    check "About: $way leaves the program running" yes "$(running && echo yes || echo no)"
  done
  # Each way out of the main dialog ends the program.
  for way in all-done close-box alt+F4; do
    running || start_program
    case $way in
      all-done) click_text "$main" "All Done" ;;
      close-box) close_box "$main" ;;
      *) keys "$main" "$way" ;;
    esac
    check "main dialog: $way ends the program" yes "$(wait_ended 5 && echo yes || echo no)"
  done
}

# The notice up now, shown at report time T: keys, Alt+F4 and clicks do not end it, its
# text shows whole, it is centred over the main dialog, and it stays its whole DURATION.
check_notice() { # check_notice TEXT WINDOW T DURATION_MS
  local w=$2 gone area sent="" deadline=$(($3 + $4 - 900))
  shot_of "$w" "notice-$3"
  area="$cx,$cy,$cw,$ch"
  # A key or click sent after the notice has gone would land on the window that follows it
  # (the setup, centred where the notice was) and spoil what comes next. Each waits for the
  # one before, so on a loaded machine the last may come too late to send; the check's
  # label then names what was sent.
  [ "$(now_ms)" -lt "$deadline" ] && keys "$w" Escape Return space alt+F4 && sent="keys"
  if [ "$(now_ms)" -lt "$deadline" ]; then
    click_screen $((cx + cw / 2)) $((cy + ch / 2))
    click_screen $((cx + cw / 2)) $((cy + ch / 2)) 3
    sent="${sent:+$sent, Alt+F4 and }clicks"
  fi
  check_text "notice \"$1\": whole" "$file" "$area" "Liberation Sans" 100 "$1"
  # Reading the place waits for the frame to settle, which takes a few tenths.
  if [ "$(now_ms)" -lt $(($3 + $4 - 700)) ]; then check_place "notice \"$1\"" "$w" over-main
  else echo "note: notice \"$1\" had gone before its place could be read"
  fi
  while [ "$(state "$w")" = viewable ] && [ "$(now_ms)" -lt $(($3 + $4 + 2000)) ]; do sleep 0.05; done
  gone=$(now_ms)
  check "notice \"$1\": ${sent:-nothing (found too late)} left it up its $4 ms" yes \
    "$([ $((gone - $3)) -ge $(($4 - 100)) ] && echo yes || echo "no: gone after $((gone - $3)) ms")"
}

notice_time() { awk -F'\t' -v t="$1" '$2 == "notice" && $3 == t { m = $1 } END { print m }' "$work/report"; }

scenario_first_run() {
  start_display 1024 768
  mkdir -p "$home/Desktop"
  start_program
  local toast notice t1 t2 t3 setup whois launcher copy="$home/.local/share/Quokka Quokka/quokka-quokka"
  # Run 1: both notices stay their whole time whatever is pressed; Esc leaves the setup.
  start_run enter
  toast=$(wait_window toast 5)
  check "run 1: the welcome notice shows" yes "$([ -n "$toast" ] && echo yes || echo no)"
  t1=$(notice_time "Welcome to quokka quokka setup!")
  [ -z "$toast" ] || check_notice "Welcome to quokka quokka setup!" "$toast" "$t1" 5000
  notice=$(wait_window toast 3 "$toast")
  t2=$(notice_time "Left click on your exact location")
  check "the setup's notice follows the welcome after its 5 s" yes \
    "$([ -n "$t2" ] && [ $((t2 - t1)) -ge 4950 ] && [ $((t2 - t1)) -lt 6000 ] && echo yes || echo "no: $((t2 - t1)) ms")"
  check "the setup's notice shows" yes "$([ -n "$notice" ] && echo yes || echo no)"
  [ -z "$notice" ] || check_notice "Left click on your exact location" "$notice" "$t2" 3000
  setup=$(wait_window setup 12)
  t3=$(awk -F'\t' '$2 == "setup" { m = $1 } END { print m }' "$work/report")
  check "the setup shows after its notice's 3 s" yes \
    "$([ -n "$t3" ] && [ $((t3 - t2)) -ge 2950 ] && [ $((t3 - t2)) -lt 4000 ] && echo yes || echo "no: $((t3 - t2)) ms")"
  check_place setup "$setup" centre
  check_size setup "$setup" 899 535
  keys "$setup" Escape
  check_state "setup: Esc closes it" "$setup" closed
  new_windows
  finish_run
  check "setup left with Esc: no home stored" 0 "$(stored_home)"
  # IANA refers to the registry, whose record is listed before the first hop.
  whois=$(awk -F'\t' '$2 == "trace" { exit } $2 == "whois"' "$work/report")
  check "run 1: the registry's record listed before the first hop" "1 1" \
    "$(grep -c 'netname: *ACCEPT-NET' <<< "$whois") $(grep -c 'abuse-mailbox: *abuse@accept.example' <<< "$whois")"
  # The first run installs: a copy of the program, and launchers on the desktop and in the
  # menu that run the copy.
  check "run 1: the program is copied" yes "$(cmp -s "$program" "$copy" && echo yes || echo no)"
  for launcher in "$home/Desktop/Quokka Quokka.desktop" "$home/.local/share/applications/Quokka Quokka.desktop"; do
    check "run 1: launcher $(basename "$(dirname "$launcher")") runs the copy" yes \
      "$(grep -q "^Exec=.*Quokka Quokka/quokka-quokka" "$launcher" 2>/dev/null && echo yes || echo no)"
  done

  # Run 2: asked again; the close box leaves without storing too.
  start_run click
  setup=$(wait_window setup 12)
  check "run 2: the setup asks again" yes "$([ -n "$setup" ] && echo yes || echo no)"
  close_box "$setup"
  check_state "setup: the close box closes it" "$setup" closed
  new_windows
  finish_run
  check "setup closed with its close box: no home stored" 0 "$(stored_home)"

  # Run 3: asked again; a left click stores the home, shown on this run's map and the next's.
  start_run click
  setup=$(wait_window setup 12)
  check "run 3: the setup asks again" yes "$([ -n "$setup" ] && echo yes || echo no)"
  click_at "$setup" $((300 * scale)) $((150 * scale))
  check_state "setup: a left click closes it" "$setup" closed
  new_windows
  finish_run
  check "setup answered with a click: the home is stored" 1 "$(stored_home)"
  check_map "run 3's map" 300,150
  # Once a home is stored nothing is installed again: a launcher the user removed stays removed.
  rm "$home/Desktop/Quokka Quokka.desktop"
  whole_run click
  check "run 4: no notice, no setup" "6 0" "$(report notice | wc -l) $(windows_of setup | wc -l)"
  check "run 4: nothing installed again" no "$([ -e "$home/Desktop/Quokka Quokka.desktop" ] && echo yes || echo no)"
  check_map "run 4's map" 300,150
  check "IANA and the registry were each asked once a run" "4 4" \
    "$(grep -c '^203.0.113.2$' "$work/record-iana") $(grep -c '^203.0.113.2$' "$work/record-registry")"
}

context_menu() { # a right click on the main dialog's emblem
  activate "$main"
  geometry "$main"
  click_at "$main" $((cw / 10)) $((ch / 2)) 3
  sleep 0.5
}

about_from_menu() { # the context menu's one item, just below and right of the pointer
  context_menu
  click_screen $(xdotool getmouselocation | awk '{ sub("x:", "", $1); sub("y:", "", $2); print $1 + 15, $2 + 10 }')
}

trace_route() { # a click on the map's "Trace Route"
  activate "$map"
  click_at "$map" $((710 * scale)) $((520 * scale))
}

scenario_pace() {
  start_display 1024 768
  set_home 300,150
  start_program
  local about before
  # Run 1: the About box from F1, open 5 s from the first hop on.
  start_run enter
  new_windows
  wait_hops 1
  keys "$main" F1
  about=$(wait_window aboutDialog 3)
  sleep 5
  check_state "run 1: About from F1 stayed up 5 s" "$about" viewable
  keys "$about" Escape
  finish_run
  check_pace 1 "About from F1 open 5 s"
  # Run 2: the About box from the context menu.
  start_run click
  new_windows
  wait_hops 1
  about_from_menu
  about=$(wait_window aboutDialog 3)
  sleep 5
  check_state "run 2: About from the context menu stayed up 5 s" "$about" viewable
  keys "$about" Escape
  finish_run
  check_pace 2 "About from the context menu open 5 s"
  # Run 3: the context menu itself open 5 s.
  start_run click
  new_windows
  wait_hops 1
  before=$(xdotool search --onlyvisible --class quokka-quokka | wc -l)
  context_menu
  check "run 3: the context menu shows" $((before + 1)) "$(xdotool search --onlyvisible --class quokka-quokka | wc -l)"
  sleep 4.5
  xdotool key Escape
  finish_run
  check_pace 3 "the context menu open 5 s"
  # Run 4: "Trace Route" twice from the second hop on.
  start_run click
  new_windows
  wait_hops 2
  trace_route
  sleep 0.5
  trace_route
  local pressed=$SECONDS
  check_map "run 4: a replay shows" 300,150 replaying
  finish_run
  check_pace 4 "two replays running"
  # The second press starts the replay again: four segments of 2 s, about 8 s from it. The
  # map is looked at from 7 s on until it shows the end, at most 20 s from that press.
  [ $((SECONDS - pressed)) -ge 7 ] || sleep $((7 - (SECONDS - pressed)))
  while [ $((SECONDS - pressed)) -lt 20 ]; do
    shot_of "$map" replay-end
    [[ $(look map "$file" "$cx" "$cy" 300,150 "${places[@]}" only-dest-green) == *FAIL* ]] || break
    rm -f "$file"
    sleep 0.5
  done
  check_map "run 4 after its replays" 300,150 only-dest-green
  # Twice after the run, the map hidden in the middle of it.
  trace_route
  sleep 0.5
  trace_route
  sleep 1
  keys "$map" Escape
  check_state "the map hidden during its replay" "$map" closed
  sleep 3
  check "the program runs on" yes "$(running && echo yes || echo no)"
  whole_run click
  check_map "run 5's map" 300,150 only-dest-green
}

# A first run on a screen of WIDTH x HEIGHT device pixels at the program's SCALE: where each
# window goes, the home clicked on the setup, the markers, every text whole.
screen() { # screen WIDTH HEIGHT SCALE
  scale=$3
  start_display "$1" "$2"
  start_program
  local toast setup
  shot_of "$main" idle
  check_text "main dialog: the label whole" "$file" "$main" "$face" "$tenths" "Domain to Explore (example.com, .net, .org, etc)"
  check_size "main dialog" "$main" 392 111
  start_run click
  toast=$(wait_window toast 5)
  check_place "welcome notice" "$toast" over-main
  setup=$(wait_window setup 12)
  check_place setup "$setup" centre
  click_at "$setup" $((300 * scale)) $((150 * scale))
  new_windows
  finish_run
  check_result_windows
}
scenario_screen_1920() { screen 1920 1080 1; }
scenario_screen_3840() { screen 3840 2160 2; }

# The program's window on the screen that the window manager leaves alone (override
# redirect): a tooltip (of _NET_WM_WINDOW_TYPE_TOOLTIP) or a menu (any other).
popup_of() { # popup_of tooltip|menu
  local w tip
  for w in $(xdotool search --onlyvisible --class quokka-quokka 2>/dev/null); do
    xwininfo -id "$w" 2>/dev/null | grep -q 'Override Redirect State: yes' || continue
    tip=$(xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -c '_NET_WM_WINDOW_TYPE_TOOLTIP')
    if [ "$1" = tooltip ]; then [ "$tip" = 1 ]; else [ "$tip" = 0 ]; fi && { echo "$w"; return 0; }
  done
  return 1
}

# The pointer comes to rest on screen pixel X, Y: a tooltip must show by it, reading TEXT.
check_tooltip() { # check_tooltip WHAT X Y TEXT
  local what=$1 x=$2 y=$3 tip="" dx dy
  xdotool mousemove "$x" $((y - 3)) && sleep 0.1 && xdotool mousemove "$x" "$y"
  for _ in $(seq 50); do tip=$(popup_of tooltip) && break; sleep 0.1; done
  check "$what: a tooltip shows" yes "$([ -n "$tip" ] && echo yes || echo no)"
  [ -n "$tip" ] || return 1
  sleep 0.3
  shot "tooltip-${what// /-}"
  geometry "$tip"
  dx=$((cx - x)) dy=$((cy - y))
  check "$what: the tooltip (${cw}x$ch at $cx,$cy) lies by the pointer ($x,$y)" yes \
    "$([ "${dx#-}" -le 40 ] && [ "${dy#-}" -le 40 ] && echo yes || echo no)"
  check_text "$what: the tooltip reads \"$4\"" "$file" "$cx,$cy,$cw,$ch" "$face" "$tenths" "$4"
}

# Right-clicks screen pixel X, Y and clicks ITEM in the context menu that opens.
menu_item() { # menu_item X Y ITEM
  local menu=""
  click_screen "$1" "$2" 3
  for _ in $(seq 30); do menu=$(popup_of menu) && break; sleep 0.1; done
  [ -n "$menu" ] || { shot "no-menu-${3//[ .&]/-}"; check "a context menu opens for \"$3\"" yes no; return 1; }
  shot "menu-${3//[ .&]/-}"
  if find_text "$file" "$menu" "$face" "$tenths" "$3"; then
    click_screen $((text_x + text_w / 2)) $((text_y + text_h / 2))
    return 0
  fi
  check "the context menu offers \"$3\"" yes "no: $text_result"
  xdotool key Escape
  return 1
}

clipboard() { timeout 5 xclip -o -selection clipboard 2>/dev/null; }

# "Save Report..." from the trace window's menu, NAME typed into the file dialog and Enter.
save_report() { # save_report NAME
  geometry "$trace"
  menu_item $((cx + cw / 3)) $((cy + ch / 4)) "&Save Report..." || return 1
  save_as "$1"
}

save_as() { # save_as NAME: the file dialog "Save Report..." opened, NAME typed into it and Enter
  local dialog=""
  for _ in $(seq 50); do dialog=$(xdotool search --onlyvisible --name '^Save Report$' 2>/dev/null | head -n1) && [ -n "$dialog" ] && break; sleep 0.1; done
  check "\"Save Report...\" opens a file dialog" yes "$([ -n "$dialog" ] && echo yes || echo no)"
  [ -n "$dialog" ] || return 1
  activate "$dialog"
  xdotool type --delay 20 "$1" && xdotool key Return
  for _ in $(seq 50); do [ -s "$1" ] && [ "$(state "$dialog")" != viewable ] && break; sleep 0.1; done
  check_state "the file dialog closes on Enter" "$dialog" closed
}

# The saved reports against the run's report lines, field by field: each hop's detail line
# (number, address, host name, AS, organisation, place, time) and trace line, the WHOIS lines.
check_saved() { # check_saved JSON CSV
  local out
  out=$(python3 - "$1" "$2" "$work/details" "$work/traces" "$work/whois" <<'PY'
import csv, json, sys
def check(what, expected, actual):
    print(("ok: " if expected == actual else "FAIL: ") + what + ("" if expected == actual else f"\n  expected: {expected!r}\n  actual:   {actual!r}"))
details = [line.rstrip("\n").split("\t") for line in open(sys.argv[3], encoding="utf-8")]
traces = open(sys.argv[4], encoding="utf-8").read().splitlines()
whois = open(sys.argv[5], encoding="utf-8").read().splitlines()
text = lambda v: "" if v is None else str(v)
try:
    saved = json.load(open(sys.argv[1], encoding="utf-8"))
    rows = list(csv.DictReader(open(sys.argv[2], encoding="utf-8", newline="")))
except (OSError, ValueError) as error:
    sys.exit(print(f"FAIL: the saved reports read back: {error}"))
check("JSON: the run", ["accept.example", "203.0.113.2", True, whois],
      [saved.get("domain"), saved.get("target"), saved.get("completed"), saved.get("whois")])
for kind, hops in (("JSON", saved.get("hops", [])), ("CSV", rows)):
    check(f"{kind}: one hop per detail line", len(details), len(hops))
    for detail, trace, hop in zip(details, traces, hops):
        ttl, address, host, asn, as_name, place, rtt = detail
        fields = [text(hop.get(k)) for k in ("ttl", "address", "hostname", "asn", "as_name", "rtt_ms", "line")]
        check(f"{kind}: hop {ttl}", [ttl, address, host, asn, as_name, rtt, trace], fields)
        where = ", ".join(text(hop.get(k)) for k in ("city", "region", "country"))
        check(f"{kind}: hop {ttl}'s place", place, "Home" if place == "Home" else where)
    check(f"{kind}: the last hop's host name", "accept.example", text(hops[-1].get("hostname")) if hops else "")
PY
)
  echo "$out"
  failures=$((failures + $(grep -c '^FAIL' <<< "$out")))
}

scenario_details() {
  local tool
  for tool in xclip python3; do command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing; install the packages tools/setup.sh lists"; exit 1; }; done
  start_display 1024 768
  set_home 300,150
  start_program
  whole_run click
  report detail > "$work/details"
  run_lines 1 | head -n4 > "$work/traces"
  report whois > "$work/whois"
  check "the run reported a detail line per hop" 4 "$(wc -l < "$work/details")"
  local file line x y red
  # A hop's details: on its trace line (hop 5, named in the hosts file) and on its map marker.
  line=$(sed -n 4p "$work/traces")
  shot_of "$trace" trace
  if check_text "trace: hop 5's line" "$file" "$trace" "Liberation Mono" 90 "$line"; then
    check_tooltip "trace line of hop 5" $((text_x + text_w / 2)) $((text_y + text_h / 2)) "Host name: accept.example"
  fi
  activate "$map"
  geometry "$map"
  read -r x y <<< "$(look point "$tokyo")"
  check_tooltip "map marker of hop 4" $((cx + x)) $((cy + y)) "Address: 198.51.100.10"

  # Copies: a red WHOIS line, and every trace line.
  red=$(report whois | grep -m1 '^abuse-mailbox:')
  shot_of "$whois" whois
  if check_text "WHOIS: the red line \"$red\"" "$file" "$whois" "$face" "$tenths" "$red" fg=ff0000 &&
     menu_item $((text_x + text_w / 2)) $((text_y + text_h / 2)) "Copy &Line"; then
    check "WHOIS: \"Copy Line\" on the red line copies it" "$red" "$(clipboard)"
  fi
  activate "$trace"
  geometry "$trace"
  if menu_item $((cx + cw / 3)) $((cy + ch / 4)) "Copy &All"; then
    check "trace: \"Copy All\" copies every line" "$(run_lines 1)" "$(clipboard)"
  fi

  # The report saved as JSON and as CSV.
  mkdir -p "$work/saved" && chmod 777 "$work/saved"
  save_report "$work/saved/run.json"
  save_report "$work/saved/run.csv"
  check_saved "$work/saved/run.json" "$work/saved/run.csv"
}

# The buses a screen reader meets the program on, of the test's own: a session bus, on which
# the accessibility bus launcher announces the accessibility bus (and its registry). Both
# listen at paths in the file system, which the program's network namespace reaches too (a
# desktop's usual session bus is an abstract socket, which a network namespace does not
# share). Sets session_bus to the session bus's address.
start_a11y_bus() {
  local i
  session_bus="unix:path=$work/session-bus"
  dbus-daemon --session --address="$session_bus" --nofork --nosyslog > "$work/a11y.log" 2>&1 &
  helpers+=($!)
  for i in $(seq 50); do [ -S "$work/session-bus" ] && break; sleep 0.1; done
  DBUS_SESSION_BUS_ADDRESS=$session_bus /usr/libexec/at-spi-bus-launcher >> "$work/a11y.log" 2>&1 &
  helpers=($! "${helpers[@]}") # ended before the session bus
  for i in $(seq 50); do
    DBUS_SESSION_BUS_ADDRESS=$session_bus dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
      org.a11y.Bus.GetAddress > /dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "FAIL: the accessibility bus did not start"; cat "$work/a11y.log"; exit 1
}

# Every accessible object of the program, as atspi_read.py prints them, in $work/atspi.
read_atspi() {
  env -u AT_SPI_BUS_ADDRESS DBUS_SESSION_BUS_ADDRESS="$session_bus" \
    /usr/bin/python3 "$here/atspi_read.py" "$program_pid" 15 > "$work/atspi" 2>> "$work/stderr"
}
atspi_has() { # atspi_has ROLE NAME [DESCRIPTION]: such an object was read (fields whole)
  awk -F'\t' -v r="$1" -v n="$2" -v d="${3-}" -v any="${3+set}" \
    '$2 == r && $3 == n && (any == "" || $4 == d) { found = 1 } END { exit !found }' "$work/atspi"
}

# How dark the left edge of the current WHOIS row is: the frame of the current row lies one
# pixel inside the row, five pixels left of where its text begins.
focus_edge() { # focus_edge NAME: a screenshot, the darkest luminance there in $edge
  local x=$text_x y=$line_top h=$((line_bottom - line_top))
  shot_of "$whois" "$1"
  read -r edge _ <<< "$(look ink "$file" $((x - 5)) "$y" 3 "$h")"
}

scenario_reader() {
  /usr/bin/python3 -c 'import pyatspi' 2>/dev/null && command -v dbus-daemon >/dev/null &&
    [ -x /usr/libexec/at-spi-bus-launcher ] ||
    { echo "FAIL: python3-pyatspi, dbus-daemon or at-spi2-core is missing; install the packages tools/setup.sh lists"; exit 1; }
  start_display 1024 768
  set_home 300,150
  start_a11y_bus
  # Hop 2 named wider than the screen; a WHOIS line turned round by U+202E comes last, after
  # a line wider than the list.
  local label=$(printf 'n%.0s' $(seq 60)) long
  long="r2.$label.$label.$label.$label.example"
  echo "198.51.100.2 $long" >> "/etc/netns/$prefix-client/hosts"
  printf 'remarks:        %s end\ndescr:          \xe2\x80\xaeten.elpmaxe@esuba :liam-e\n' "$(printf 'wide %.0s' $(seq 60))" \
    >> "$work/registry.txt"
  start_program DBUS_SESSION_BUS_ADDRESS="$session_bus" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
  whole_run click

  # What a screen reader reads.
  read_atspi
  check "AT-SPI: the program's objects were read" yes "$([ -s "$work/atspi" ] && echo yes || echo no)"
  local what role name
  while IFS='|' read -r what role name; do
    check "AT-SPI: $what" yes "$(atspi_has "$role" "$name" && echo yes || echo no)"
  done <<'ROWS'
the domain field is named by its label|text|Domain to Explore (example.com, .net, .org, etc)
the main dialog's name|dialog|Quokka Quokka
the map window's name|dialog|World map
the trace window's name|dialog|Trace route
the WHOIS window's name|dialog|WHOIS record
the trace list's name|list|Route hops
the WHOIS list's name|list|WHOIS record lines
the WHOIS line turned round, as it reads|list item|descr:          <U+202E>ten.elpmaxe@esuba :liam-e
ROWS
  # Hop 2's description: its detail fields as its tooltip tells them.
  local hop2 details
  hop2=$(run_lines 1 | sed -n 2p)
  details=$(report detail | awk -F'\t' '$1 == 2 {
    d = "Hop " $1 "; Address: " $2 ($3 != "" ? "; Host name: " $3 : "")
    if ($4 != "") { n = "AS" $4 " " $5; sub(/ +$/, "", n); d = d "; Network: " n }
    d = d "; Place: " $6 "; Round trip: " $7 " ms" } END { print d }')
  check "AT-SPI: hop 2's row tells its details ($details)" yes "$(atspi_has "list item" "$hop2" "$details" && echo yes || echo no)"
  check "the details name hop 2's long host" yes "$([[ $details == *"Host name: $long;"* ]] && echo yes || echo no)"

  # The WHOIS line drawn as it reads, and its row framed while the list has the focus: Tab
  # takes the focus between "All Done" and the list, so one of two presses frames it.
  local turned="descr:          <U+202E>ten.elpmaxe@esuba :liam-e" first second
  shot_of "$whois" whois
  if check_text "WHOIS: the line with U+202E drawn as it reads" "$file" "$whois" "$face" "$tenths" "$turned"; then
    keys "$whois" Tab; focus_edge whois-tab; first=$edge
    keys "$whois" Tab; focus_edge whois-tab-tab; second=$edge
    check "WHOIS: the current row framed while the list has the focus, not otherwise (edges $first, $second)" yes \
      "$([ "$(( (first < 80) + (second < 80) ))" = 1 ] && [ $((first > second ? first - second : second - first)) -ge 80 ] && echo yes || echo no)"
  fi

  # Tooltips: hop 2's is wider than the screen unbroken; broken, it fits and leaves the
  # pointer free for the next row's, hop 4's.
  local tip="" x y x4=0 y4=0
  shot_of "$trace" trace
  check_text "trace: hop 4's line" "$file" "$trace" "Liberation Mono" 90 "$(run_lines 1 | sed -n 3p)" &&
    x4=$((text_x + text_w / 2)) y4=$((text_y + text_h / 2))
  if check_text "trace: hop 2's line" "$file" "$trace" "Liberation Mono" 90 "$hop2"; then
    x=$((text_x + text_w / 2)) y=$((text_y + text_h / 2))
    xdotool mousemove "$x" $((y - 3)) && sleep 0.1 && xdotool mousemove "$x" "$y"
    for _ in $(seq 50); do tip=$(popup_of tooltip) && break; sleep 0.1; done
    check "trace: hop 2's tooltip shows" yes "$([ -n "$tip" ] && echo yes || echo no)"
    if [ -n "$tip" ]; then
      sleep 0.3
      shot tooltip-hop-2
      geometry "$tip"
      check "trace: hop 2's tooltip (${cw}x$ch at $cx,$cy) fits the ${screen_w}-pixel screen and leaves the pointer ($x,$y) free" yes \
        "$([ "$cx" -ge 0 ] && [ $((cx + cw)) -le "$screen_w" ] &&
           ! { [ "$x" -ge "$cx" ] && [ "$x" -lt $((cx + cw)) ] && [ "$y" -ge "$cy" ] && [ "$y" -lt $((cy + ch)) ]; } && echo yes || echo no)"
      check_text "trace: hop 2's tooltip reads the host name's start" "$file" "$cx,$cy,$cw,$ch" "$face" "$tenths" "Host name: r2.nnnnnnnnnn"
    fi
    [ "$x4" -gt 0 ] && check_tooltip "trace line of hop 4, next" "$x4" "$y4" "Address: 198.51.100.10"
  fi
  activate "$map"
  geometry "$map"
  check_tooltip "map: the home marker" $((cx + 300)) $((cy + 150)) "Map point: 300, 150"
}

# --- keys --------------------------------------------------------------------------------

drag() { # drag X1 Y1 X2 Y2: the left button held down from screen pixel X1, Y1 to X2, Y2
  xdotool mousemove "$1" "$2"; sleep 0.3; xdotool mousedown 1; sleep 0.3
  xdotool mousemove $((($1 + $3) / 2)) $((($2 + $4) / 2)); sleep 0.2; xdotool mousemove "$3" "$4"; sleep 0.3
  xdotool mouseup 1; sleep 0.5
}

# The menu that Shift+F10 opens where the keyboard is now: its window, or nothing.
shift_f10() { local m=""; xdotool key --clearmodifiers shift+F10; for _ in $(seq 20); do m=$(popup_of menu) && break; sleep 0.1; done; echo "$m"; }

# Shift+F10 in WINDOW opens a menu offering TEXT; Esc then closes the menu and nothing else.
check_menu_key() { # check_menu_key WHAT WINDOW TEXT
  local menu
  menu=$(shift_f10)
  check "$1: Shift+F10 opens its context menu" yes "$([ -n "$menu" ] && echo yes || echo no)"
  [ -n "$menu" ] || return 1
  shot "shift-f10-${1// /-}"
  check_text "$1: the menu offers \"$3\"" "$file" "$menu" "$face" "$tenths" "$3"
  xdotool key Escape
  sleep 0.4
  check "$1: Esc closes the menu, the window stays, the program runs" "closed viewable yes" \
    "$(popup_of menu >/dev/null && echo open || echo closed) $(state "$2") $(running && echo yes || echo no)"
}

# The pointer's shape at screen pixel X, Y.
cursor_at() { xdotool mousemove "$1" "$2"; sleep 0.4; look cursor; }

stacked_above() { # stacked_above UPPER LOWER: yes when UPPER lies above LOWER on the screen
  local order
  order=$(xprop -root _NET_CLIENT_LIST_STACKING | grep -o '0x[0-9a-f]*' | while read -r w; do printf '%d\n' "$w"; done)
  [ "$(grep -nx "$1" <<< "$order" | cut -d: -f1)" -gt "$(grep -nx "$2" <<< "$order" | cut -d: -f1)" ] 2>/dev/null && echo yes || echo no
}

# Whether the Enter just pressed started run $run; if not, Explore is clicked instead so that
# what follows still has its windows.
enter_started_run() { # enter_started_run WHAT
  local w
  w=$(wait_window worldMap 5 "${known[@]}")
  check "$1 starts run $run" yes "$([ -n "$w" ] && echo yes || echo no)"
  started=yes
  [ -n "$w" ] || click_text "$main" Explore pick=last || started=no
  new_windows
}

scenario_keys() {
  start_display 1024 768
  set_home 300,150
  start_program
  local about i w dx dy points
  # A double click on the main dialog's title bar does not maximise it (a second one would
  # take it back should it have).
  geometry "$main"
  xdotool mousemove $((fx + fw / 2)) $((fy + frame_top / 2)); sleep 0.3; xdotool click --repeat 2 --delay 100 1
  sleep 1
  check_size "main dialog after a double click on its title bar (not maximised)" "$main" 392 111
  [ "$cw" = 392 ] || { geometry "$main"; xdotool mousemove $((fx + fw / 2)) $((fy + frame_top / 2)); sleep 0.3; xdotool click --repeat 2 --delay 100 1; sleep 1; }

  # The About box shows the icon inside, but sets none on its window; Enter presses OK.
  keys "$main" F1
  about=$(wait_window aboutDialog 5)
  check "window icons: the main dialog's set, the About box's not" "Icon not found." \
    "$(xprop -id "$main" _NET_WM_ICON | sed -n 1p | grep -o 'Icon') $(xprop -id "$about" _NET_WM_ICON | sed -n 1p | grep -o 'not found.')"
  keys "$about" Return
  check_state "About: Enter closes it" "$about" closed

  # Run 1: the name typed, Tab to Explore, Shift+F10 there (the dialog's menu, Esc closes only
  # that), Enter presses Explore. The WHOIS servers are cut off until the pointer has been
  # looked at over each result window (the client tries to connect for 10 s).
  run=1 started=yes
  shot_of "$main" field
  find_text "$file" "$main" "$face" "$tenths" "Domain to Explore" && click_screen $((text_x + 20)) $((line_bottom + 16))
  xdotool key --clearmodifiers ctrl+a && xdotool type --delay 30 "$domain" && xdotool key Tab
  check_menu_key "main dialog on Explore" "$main" "&About Quokka Quokka..."
  ip netns exec "$prefix-whois" iptables -I INPUT -p tcp --dport 43 -j DROP
  xdotool key Return
  enter_started_run "Enter on the focused Explore"
  local names=(trace WHOIS map) busy=() after=()
  points=()
  for w in "$trace" "$whois" "$map"; do geometry "$w"; points+=("$((cx + cw / 2)) $((cy + ch / 2))"); done
  for i in 0 1 2; do busy+=("$(cursor_at ${points[$i]})"); done
  local listed=$(report whois | wc -l)
  ip netns exec "$prefix-whois" iptables -D INPUT -p tcp --dport 43 -j DROP
  check "run 1: the WHOIS record was not in while the pointer was looked at" 0 "$listed"
  check "run 1: the main dialog keeps the keyboard" "$main" "$(xdotool getactivewindow)"
  for w in $map $trace $whois; do
    check "run 1: window $w came up above the main dialog" yes "$(stacked_above "$w" "$main")"
  done
  finish_run
  check "run 1: the WHOIS window lists the record" 1 "$(report whois | grep -c '^% Test registry')"
  for i in 0 1 2; do after+=("$(cursor_at ${points[$i]})"); done
  for i in 0 1 2; do
    check "run 1: the pointer over ${names[$i]} is another while the record is awaited (${busy[$i]} / ${after[$i]})" yes \
      "$([ -n "${busy[$i]}" ] && [ "${busy[$i]}" != "${after[$i]}" ] && echo yes || echo no)"
  done
  check "run 1: after it the pointer is the same over every result window" "${after[0]} ${after[0]}" "${after[1]} ${after[2]}"
  check "run 1: the main dialog has the keyboard after it and lies on top" "$main yes" \
    "$(xdotool getactivewindow) $(stacked_above "$main" "$map")"

  # Run 2 by Enter in the field; after it, Enter again (no click) starts run 3.
  whole_run enter
  xdotool key Return
  run=3
  enter_started_run "Enter after a run started from the field"
  finish_run
  all_viewable "Enter after run 2 hid none of its windows" "${known[@]}"

  # Shift+F10 on the trace list and on the WHOIS list (their current row the first), then Esc;
  # the trace menu's "Copy &Line" by its letter; the WHOIS menu's "Save Report...".
  geometry "$trace"
  click_screen $((cx + 40)) $((cy + 18))
  check_menu_key "trace" "$trace" "Copy &All"
  geometry "$trace"
  click_screen $((cx + 40)) $((cy + 18)) 3
  for _ in $(seq 20); do popup_of menu >/dev/null && break; sleep 0.1; done
  xdotool key l && sleep 0.3
  check "trace: L in the menu copies the line" "$(run_lines 3 | head -n1)" "$(clipboard)"
  geometry "$whois"
  click_screen $((cx + 60)) $((cy + 12))
  check_menu_key "WHOIS" "$whois" "Copy &All"
  mkdir -p "$work/saved" && chmod 777 "$work/saved"
  geometry "$whois"
  menu_item $((cx + 60)) $((cy + 12)) "&Save Report..." && save_as "$work/saved/whois.json"
  check "WHOIS: \"Save Report...\" wrote the run's report" "accept.example 4" \
    "$(python3 -c 'import json, sys; r = json.load(open(sys.argv[1])); print(r["domain"], len(r["hops"]))' "$work/saved/whois.json" 2>&1 | tail -n1)"

  # The main dialog by its bottom right corner: dragged smaller it keeps its size; it still
  # grows.
  local grow=(120-30 "+40+20" 20-20) want=("392 111" "432 131" "392 111")
  for i in 0 1 2; do
    activate "$main"
    geometry "$main"
    case ${grow[$i]} in
      +*) IFS=+ read -r _ dx dy <<< "${grow[$i]}"; drag $((fx + fw - 2)) $((fy + fh - 2)) $((fx + fw - 2 + dx)) $((fy + fh - 2 + dy)) ;;
      *) IFS=- read -r dx dy <<< "${grow[$i]}"; drag $((fx + fw - 2)) $((fy + fh - 2)) $((fx + dx)) $((fy + frame_top + dy)) ;;
    esac
    check_size "main dialog dragged by its corner (${grow[$i]})" "$main" ${want[$i]}
  done

  # Enter on the focused "All Done" ends the program.
  keys "$main" Tab Tab Return
  check "main dialog: Enter on a focused \"All Done\" ends the program" yes "$(wait_ended 5 && echo yes || echo no)"
}

# Pixels of WINDOW in SHOT within 40 of colour RRGGBB in each channel.
pixels_near() { # pixels_near SHOT WINDOW RRGGBB
  geometry "$2"
  convert "$1" -crop "${cw}x${ch}+${cx}+${cy}" +repage rgb:- | python3 -c '
import sys
want = bytes.fromhex(sys.argv[1]); d = sys.stdin.buffer.read()
print(sum(1 for i in range(0, len(d) - 2, 3) if all(abs(d[i + k] - want[k]) <= 40 for k in range(3))))' "$3"
}

# The top third of WINDOW (its table) in a file of its own: the same picture while it stands still.
table_shot() { # table_shot WINDOW NAME
  shot_of "$1" "$2"
  convert "$file" -crop "${cw}x$((ch / 3))+${cx}+${cy}" +repage "$work/$2.png"
}

scenario_monitor() {
  command -v python3 >/dev/null || { echo "FAIL: python3 is missing; install the packages tools/setup.sh lists"; exit 1; }
  start_display 1024 768
  set_home 300,150
  start_program
  whole_run click
  local monitor second="" file found t0 t1
  # A right click on a trace line offers "Monitor Route".
  activate "$trace"
  geometry "$trace"
  menu_item $((cx + cw / 3)) $((cy + ch / 4)) "&Monitor Route"
  monitor=$(wait_window routeMonitor 10 "${known[@]}")
  check "\"Monitor Route\" opens a Route Monitor window" yes "$([ -n "$monitor" ] && echo yes || echo no)"
  [ -n "$monitor" ] || return
  known+=("$monitor")
  check "the monitor's title" "Route Monitor - 203.0.113.2" "$(xprop -id "$monitor" WM_NAME | cut -d'"' -f2)"
  all_viewable "the monitor" "$monitor"
  # Rows come as hops answer: the lab's routers, their places from the table.
  found=no
  for _ in $(seq 20); do
    shot_of "$monitor" monitor-rows
    find_text "$file" "$monitor" "$face" "$tenths" "198.51.100.10" &&
      find_text "$file" "$monitor" "$face" "$tenths" "Sydney, New South Wales, Australia" && { found=yes; break; }
    sleep 0.5
  done
  check "the monitor's table shows hop 4's address and the destination's place" yes "$found"

  # Paused, the table stands still; resumed, it moves again.
  click_text "$monitor" Pause
  sleep 1.5
  table_shot "$monitor" paused-1
  check_text "paused: the button reads Resume" "$file" "$monitor" "$face" "$tenths" "Resume"
  sleep 2.5
  table_shot "$monitor" paused-2
  check "paused: the table stands still" 0 "$(compare -metric AE "$work/paused-1.png" "$work/paused-2.png" null: 2>&1)"
  click_text "$monitor" Resume
  sleep 2.5
  table_shot "$monitor" resumed
  check "resumed: the table moves on" yes \
    "$([ "$(compare -metric AE "$work/paused-2.png" "$work/resumed.png" null: 2>&1)" != 0 ] && echo yes || echo no)"
  check_text "resumed: the button reads Pause" "$file" "$monitor" "$face" "$tenths" "Pause"
  check "the timeline draws the destination's round trips" yes \
    "$([ "$(pixels_near "$file" "$monitor" 1f4e9c)" -gt 20 ] && echo yes || echo no)"
  check "the timeline marks no lost probe to the destination" 0 "$(pixels_near "$file" "$monitor" e00000)"

  # Saved as JSON, read back: the lab's route, its destination at TTL 5.
  mkdir -p "$work/saved" && chmod 777 "$work/saved"
  click_text "$monitor" "&Save Report..." && save_as "$work/saved/monitor.json"
  check "the saved monitor report: the route's addresses, the destination at TTL 5" \
    "192.0.2.1 198.51.100.2 198.51.100.10 203.0.113.2 5" \
    "$(python3 -c 'import json, sys; m = json.load(open(sys.argv[1]))
print(" ".join([r["address"] for r in m["rows"] if r["address"]] + [str(m["destination_ttl"])]))' "$work/saved/monitor.json" 2>&1)"

  # Shift+F10 on the trace list, then the item's mnemonic: a second monitor.
  activate "$trace"
  geometry "$trace"
  click_screen $((cx + cw / 3)) $((cy + ch / 4))
  if [ -n "$(shift_f10)" ]; then
    shot "shift-f10-trace"
    xdotool key m
    second=$(wait_window routeMonitor 10 "${known[@]}")
  fi
  check "Shift+F10 and M on the trace list open another monitor" yes "$([ -n "$second" ] && echo yes || echo no)"
  # Closed while its rounds go on: it goes, the program stays.
  if [ -n "$second" ]; then
    sleep 1.2
    close_box "$second"
    check_state "the second monitor closes with its close box" "$second" closed
    check "closing a monitor leaves the program running" yes "$(running && echo yes || echo no)"
  fi
  # The program ends within a second of "All Done", monitor up, with no process left behind.
  shot_of "$main" all-done
  find_text "$file" "$main" "$face" "$tenths" "All Done"
  t0=$(now_ms)
  click_screen $((text_x + text_w / 2)) $((text_y + text_h / 2))
  wait_ended 5
  t1=$(now_ms)
  check "\"All Done\" with a monitor up ends the program within a second ($((t1 - t0)) ms)" yes \
    "$([ $((t1 - t0)) -lt 1000 ] && ! running && echo yes || echo no)"
  # (Other scenarios run the same program at the same time, each in a namespace of its own.)
  check "no process of the program or its helper is left in its namespace" "" "$(ip netns pids "$prefix-client")"
}

# --- ipv6 --------------------------------------------------------------------------------

# The lab's IPv6 hops, each as a row: hop, address in RFC 5952's form, the address column's
# width (the longest address so far, the destination's 13 characters included, and one space;
# 15 at least), and the place the IPv6 table gives its /64, far from its IPv4 twin's.
hops6=("1|2001:db8:1::1|15|IS|Iceland|Capital Region|Reykjavik|64.13548,-21.89541"
  "2|2001:db8:2::2|15|KE|Kenya|Nairobi County|Nairobi|-1.28333,36.81667"
  "4|2001:db8:4::ab:0:1|19|PE|Peru|Lima|Lima|-12.04318,-77.02824"
  "5|2001:db8:5::2|19|CA|Canada|British Columbia|Vancouver|49.24966,-123.11934")

# The context menu opened on the main dialog and its "Prefer IPv6" found: the row's part left of
# the text, where a check mark goes, cut out as $work/NAME.png (its screen rectangle in $mark).
# The menu stays open, text_x... on the item.
prefer_ipv6_row() { # prefer_ipv6_row NAME
  local menu=""
  context_menu
  for _ in $(seq 30); do menu=$(popup_of menu) && break; sleep 0.1; done
  # A menu just mapped may not be drawn yet on a busy machine: up to three looks.
  for _ in 1 2 3; do
    shot "menu-$1"
    if [ -n "$menu" ] && find_text "$file" "$menu" "$face" "$tenths" "Prefer IPv&6"; then
      mark="$cx $line_top $((text_x - cx - 2)) $((line_bottom - line_top + 1))"
      convert "$file" -crop "$((text_x - cx - 2))x$((line_bottom - line_top + 1))+$cx+$line_top" +repage "$work/$1.png"
      return 0
    fi
    sleep 0.3
  done
  check "the context menu ($1) offers \"Prefer IPv6\"" yes "no: $text_result"
  xdotool key Escape
  return 1
}
pixels_apart() { compare -metric AE "$work/$1.png" "$work/$2.png" null: 2>&1; } # pixels_apart NAME NAME

scenario_ipv6() {
  local row n a w cc country region city at columns="" theirs dark bg dark_on mark=""
  local route4=("${route[@]}") places4=("${places[@]}")
  route=() places=()
  for row in "${hops6[@]}"; do
    IFS='|' read -r n a w cc country region city at <<< "$row"
    printf '%s %s %s|%s|%s|%s\t%s %s\n' "${a%%::*}::" "${a%%::*}:0:ffff:ffff:ffff:ffff" "$cc" "$country" \
      "$region" "$city" "${at%,*}" "${at#*,}" >> "$work/table6.txt"
    [ "$n" = 1 ] && city=Home || city="$city, $region, $country"
    route+=("Hop $n +[0-9]+ms +$a +$city")
    columns+=$(printf '%-*s%s|' "$w" "$a" "$city")
    places+=("$at")
  done
  route+=("Route Complete, Total Round Trip Time [0-9]+ms")
  places[3]+=,dest
  "$netbin/quokka-make-geo-table" --ipv6 "$work/table6.bin" < "$work/table6.txt" || exit 1
  theirs=$(in_client traceroute -6 -I -n -q 1 -w 1 -m 29 2001:db8:5::2 | awk 'NR > 1 && $2 != "*" { printf "%s ", $2 }')
  domain=dual.example
  start_display 1024 768
  set_home 300,150
  start_program QUOKKA_GEO_TABLE_IPV6="$work/table6.bin"

  # "Prefer IPv6" clicked on the context menu; dual.example then goes over IPv6: the hops of
  # traceroute -6 -I, their address column as the rule says, their places from the IPv6 table
  # in the lines and on the map, the WHOIS servers asked for the IPv6 destination.
  prefer_ipv6_row unchecked && click_screen $((text_x + text_w / 2)) $((text_y + text_h / 2))
  read -r dark bg <<< "$(look ink "$file" $mark)"
  whole_run enter
  check "IPv6 run: the hops are traceroute -6 -I's answering ones" "$theirs" \
    "$(run_lines 1 | head -n4 | awk '{ printf "%s ", $4 }')"
  check "IPv6 run: from column 21, the address in its column, then the place" "$columns" \
    "$(run_lines 1 | head -n4 | cut -c21- | tr '\n' '|')"
  check_faces
  check_map map 300,150
  check "IPv6 run: IANA and the registry were asked for 2001:db8:5::2" "2001:db8:5::2 2001:db8:5::2" \
    "$(tail -n1 "$work/record-iana") $(tail -n1 "$work/record-registry")"

  # Started again, the menu shows the choice checked (the row's check place inked, unlike
  # before); clicked off, the row is as it first was, and dual.example goes over IPv4.
  click_text "$main" "All Done"
  check "\"All Done\" ends the program" yes "$(wait_ended 5 && echo yes || echo no)"
  start_program QUOKKA_GEO_TABLE_IPV6="$work/table6.bin"
  if prefer_ipv6_row restarted; then
    read -r dark_on _ <<< "$(look ink "$file" $mark)"
    check "after a restart \"Prefer IPv6\" shows a check mark (darkest $dark_on, was $dark on $bg)" yes \
      "$([ "$(pixels_apart unchecked restarted)" -gt 20 ] && [ "$dark_on" -lt 100 ] && [ "$dark" -gt 100 ] 2>/dev/null && echo yes || echo no)"
    click_screen $((text_x + text_w / 2)) $((text_y + text_h / 2))
  fi
  prefer_ipv6_row off && xdotool key Escape
  check "clicked off, \"Prefer IPv6\" shows no check mark" 0 "$(pixels_apart unchecked off)"
  route=("${route4[@]}") places=("${places4[@]}")
  whole_run enter
  check "IPv4 run: IANA was asked for 203.0.113.2" 203.0.113.2 "$(tail -n1 "$work/record-iana")"
}

if [ "$(type -t "scenario_$scenario")" != function ]; then echo "unknown scenario $scenario"; exit 2; fi
"scenario_$scenario"

keep_shots
[ "$failures" -eq 0 ] || { tail -n 20 "$work/stderr" 2>/dev/null; exit 1; }
