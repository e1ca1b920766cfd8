# The desktop a person sits at, for desktop_test.sh: an X server (Xvfb) with a window manager
# (openbox), the program in the client namespace of accept_lab.sh's network, real input
# through XTest (xdotool), and screenshots judged by quokka-desktop-check. Source it after
# lab_lib.sh with `work` (the test's folder) and `prefix` (the lab's) set.
#
# Windows are named by their WM_WINDOW_ROLE. Coordinates are device pixels; `scale` is the
# program's QT_SCALE_FACTOR (1 unless a scenario sets it).

checker=${QUOKKA_DESKTOP_CHECK:?}
export XDG_RUNTIME_DIR="$work/runtime" MAGICK_TEMPORARY_PATH="$work"
: > "$work/roles"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
text_x=0 text_y=0 text_w=0 text_h=0 line_top=0 line_bottom=0 text_result=""
cx=0 cy=0 cw=0 ch=0 fx=0 fy=0 fw=0 fh=0 frame_top=0
scale=1
xvfb_pid=""
openbox_pid=""
program_pid=""
stamp_pid=""

# The checker on the test's display, at the program's scale.
look() { QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale "$checker" "$@"; }

for tool in Xvfb openbox xdotool xprop xwininfo import setxkbmap; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "FAIL: $tool is missing; install the packages tools/setup.sh lists"; exit 1
  fi
done

# --- the display -------------------------------------------------------------------------

start_display() { # start_display WIDTH HEIGHT: Xvfb on a free display, then openbox on it
  stop_display
  : > "$work/display"
  Xvfb -displayfd 3 -screen 0 "${1}x${2}x24" -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { echo "FAIL: Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
  export DISPLAY=":$(head -n1 "$work/display")"
  # The window manager's own defaults (/etc/xdg/openbox), not a profile of the machine's user.
  HOME="$work" XDG_CONFIG_HOME="$work/.config" openbox --sm-disable > "$work/openbox.log" 2>&1 &
  openbox_pid=$!
  for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
  done
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' ||
    { echo "FAIL: openbox does not manage the display"; cat "$work/openbox.log"; exit 1; }
  screen_w=$1 screen_h=$2
  echo "desktop: $DISPLAY ${1}x$2 under openbox"
}

stop_display() {
  stop_program
  { [ -n "$openbox_pid" ] && kill "$openbox_pid" && wait "$openbox_pid"
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" && wait "$xvfb_pid"; } 2>/dev/null
  openbox_pid="" xvfb_pid=""
}

# --- the program -------------------------------------------------------------------------

# start_program [VARIABLE=VALUE...]: the program in the client namespace with a home of the
# test's own; every report line lands in $work/report behind its monotonic time in ms.
start_program() {
  stop_program
  : > "$work/report"
  rm -f "$work/pid"
  mkdir -p "$home"
  ip netns exec "$prefix-client" env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u APPDATA -u QT_QPA_PLATFORM \
    HOME="$home" DISPLAY="$DISPLAY" XDG_RUNTIME_DIR="$work/runtime" QT_SCALE_FACTOR="$scale" "$@" \
    bash -c 'echo $$ > "$0"; exec "$1" --report --geo-table "$2"' "$work/pid" "$program" "$work/table.bin" \
    2>>"$work/stderr" | "$checker" stamp >> "$work/report" &
  stamp_pid=$!
  for _ in $(seq 50); do [ -s "$work/pid" ] && break; sleep 0.1; done
  program_pid=$(cat "$work/pid")
  main=$(wait_window mainDialog 10)
  [ -n "$main" ] || { echo "FAIL: the main dialog did not show"; cat "$work/stderr"; exit 1; }
  known=() run=0 started=no map="" trace="" whois=""
  wait_settled "$main"
}

running() { [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; }

# Waits up to N seconds for the program to end on its own.
wait_ended() { local i; for i in $(seq $(($1 * 10))); do running || return 0; sleep 0.1; done; return 1; }

stop_program() {
  { if running; then kill "$program_pid"; wait_ended 5 || kill -9 "$program_pid"; fi
    [ -n "$stamp_pid" ] && wait "$stamp_pid"; } 2>/dev/null
  program_pid="" stamp_pid=""
}

# Report lines of one kind ("trace", "whois", "notice", "setup"), without their times.
report() { awk -F'\t' -v k="$1" '$2 == k { sub(/^[^\t]*\t[^\t]*\t/, ""); print }' "$work/report"; }
# How many runs have ended: each complete route ends with its total.
runs_done() { grep -c $'\ttrace\tRoute Complete' "$work/report"; }
wait_runs_done() { # wait_runs_done N [SECONDS]
  local i
  for i in $(seq $((${2:-30} * 10))); do [ "$(runs_done)" -ge "$1" ] && return 0; sleep 0.1; done
  return 1
}
now_ms() { "$checker" now; }

# --- windows -----------------------------------------------------------------------------

# role_of WINDOW: its WM_WINDOW_ROLE, empty while it has none. A window keeps its role, so
# the X server is asked once per window (the answers kept in $work/roles, since callers run
# in subshells): the waits below poll many times a second, and each process they start
# costs the machine that the program under test shares.
role_of() {
  local id role
  while read -r id role; do [ "$id" = "$1" ] && { echo "$role"; return 0; }; done < "$work/roles"
  role=$(xprop -id "$1" WM_WINDOW_ROLE 2>/dev/null)
  [[ $role == *'"'* ]] || return 0
  role=${role#*\"} role=${role%\"*}
  echo "$1 $role" >> "$work/roles"
  echo "$role"
}

windows_of() { # windows_of ROLE [--onlyvisible]: the program's windows of that role, oldest first
  local w
  for w in $(xdotool search ${2:-} --class quokka-quokka 2>/dev/null | sort -n); do
    [ "$(role_of "$w")" = "$1" ] && echo "$w"
  done
}

wait_window() { # wait_window ROLE SECONDS [KNOWN...]: a viewable window of ROLE not among KNOWN
  local role=$1 tenths=$(($2 * 10)) w
  shift 2
  for _ in $(seq "$tenths"); do
    for w in $(windows_of "$role" --onlyvisible); do
      [[ " $* " == *" $w "* ]] || { echo "$w"; return 0; }
    done
    sleep 0.1
  done
  return 1
}

state() { # state WINDOW: viewable, iconic (minimised), hidden or gone
  local info
  [ -n "${1:-}" ] || { echo gone; return; }
  info=$(xwininfo -id "$1" 2>/dev/null) || { echo gone; return; }
  if grep -q 'Map State: IsViewable' <<< "$info"; then echo viewable
  elif xprop -id "$1" WM_STATE 2>/dev/null | grep -q 'window state: Iconic'; then echo iconic
  else echo hidden
  fi
}

# geometry WINDOW: sets cx cy cw ch (the client area on the screen) and fx fy fw fh (the
# frame: client plus the window manager's decorations, from _NET_FRAME_EXTENTS).
geometry() {
  local info extents l r t b
  cx=0 cy=0 cw=0 ch=0 fx=0 fy=0 fw=0 fh=0 frame_top=0
  [ -n "${1:-}" ] || return 1
  info=$(xwininfo -id "$1" 2>/dev/null) || return 1
  cx=$(awk '/Absolute upper-left X/ { print $NF }' <<< "$info")
  cy=$(awk '/Absolute upper-left Y/ { print $NF }' <<< "$info")
  cw=$(awk '/^ *Width:/ { print $NF }' <<< "$info")
  ch=$(awk '/^ *Height:/ { print $NF }' <<< "$info")
  extents=$(xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | grep -o '= [0-9, ]*$' | tr -d '= ')
  IFS=, read -r l r t b <<< "${extents:-0,0,0,0}"
  fx=$((cx - l)) fy=$((cy - t)) fw=$((cw + l + r)) fh=$((ch + t + b)) frame_top=$t
}

wait_settled() { # wait_settled WINDOW: until its frame stays put for 0.3 s (at most 3 s)
  local last="" current
  for _ in $(seq 30); do
    geometry "$1"; current="$fx $fy $fw $fh"
    [ "$current" = "$last" ] && return 0
    last=$current
    sleep 0.3
  done
}

# --- input -------------------------------------------------------------------------------

activate() { [ -n "${1:-}" ] && timeout 5 xdotool windowactivate --sync "$1" 2>/dev/null; sleep 0.2; }

# A click at screen pixel X, Y. (xdotool's own --sync waits for a motion that never comes
# when the pointer is there already.)
click_screen() { # click_screen X Y [BUTTON]
  xdotool mousemove "$1" "$2"
  for _ in $(seq 20); do
    [ "$(xdotool getmouselocation | cut -d' ' -f1-2)" = "x:$1 y:$2" ] && break
    sleep 0.05
  done
  xdotool click "${3:-1}"
  sleep 0.2
}

click_at() { # click_at WINDOW X Y [BUTTON]: a click at client pixel X, Y of WINDOW
  geometry "$1"
  click_screen $((cx + $2)) $((cy + $3)) "${4:-1}"
}

keys() { # keys WINDOW KEY...: activates WINDOW, then presses the keys there
  local w=$1; shift
  activate "$w"
  xdotool key --clearmodifiers "$@"
  sleep 0.3
}

close_box() { # close_box WINDOW: a click on the close button at the right end of its title bar
  activate "$1"
  geometry "$1"
  click_screen $((fx + fw - frame_top / 2 - 1)) $((fy + frame_top / 2))
}

minimise() { [ -n "${1:-}" ] && timeout 5 xdotool windowminimize --sync "$1" 2>/dev/null; sleep 0.3; }

# --- screenshots -------------------------------------------------------------------------

shots=0
shot() { # shot NAME: the whole screen, saved as $work/shots/NNN-NAME.png, that file in $file
  mkdir -p "$work/shots"
  shots=$((shots + 1))
  file="$work/shots/$(printf %03d "$shots")-$1.png"
  import -window root "$file"
}

# shot_of WINDOW NAME: the screen with WINDOW raised first so that nothing covers it; sets
# file, and cx cy cw ch to the window's client area.
shot_of() {
  activate "$1"
  shot "$2"
  geometry "$1"
}

# find_text SHOT WINDOW FACE TENTHS TEXT [fg=RRGGBB] [bg=RRGGBB] [pick=last]: searches
# WINDOW's client area (or the area "X,Y,W,H") of SHOT for TEXT drawn whole; sets text_x
# text_y text_w text_h line_top line_bottom.
find_text() {
  local file=$1 w=$2 face=$3 tenths=$4 text=$5 out
  shift 5
  text_x=0 text_y=0 text_w=0 text_h=0 line_top=0 line_bottom=0
  if [[ $w == *,* ]]; then IFS=, read -r cx cy cw ch <<< "$w"; else geometry "$w"; fi
  out=$(look text "$file" "$cx" "$cy" "$cw" "$ch" "$face" "$tenths" "$text" "$@")
  text_result=$out
  [[ $out == found* ]] || return 1
  read -r _ text_x text_y text_w text_h line_top line_bottom _ <<< "$out"
}

# The face and size (tenths of a point) of the dialogs' labels and buttons.
dialog_face=${QUOKKA_DESKTOP_DIALOG_FONT:-Liberation Sans:80}
face=${dialog_face%:*} tenths=${dialog_face##*:}

check_text() { # check_text WHAT SHOT WINDOW FACE TENTHS TEXT [fg=..] [bg=..]
  local what=$1; shift
  if find_text "$@"; then echo "ok: $what"
  else
    echo "FAIL: $what"; echo "  text \"$5\" ($3 ${4}/10 pt) in ${1##*/}: $text_result"; failures=$((failures + 1))
    return 1
  fi
}

# Clicks the middle of a button's label, found in WINDOW's client area in the dialog face
# (the lowest such text with pick=last).
click_text() { # click_text WINDOW TEXT [pick=last]
  shot_of "$1" "click"
  if find_text "$file" "$1" "$face" "$tenths" "$2" "${@:3}"; then
    click_screen $((text_x + text_w / 2)) $((text_y + text_h / 2))
    return 0
  fi
  echo "FAIL: no \"$2\" to click in window $1 ($text_result)"; failures=$((failures + 1))
  return 1
}

# check_state WHAT WINDOW EXPECTED: one window's state (viewable, iconic, hidden or gone;
# "closed" accepts hidden and gone).
check_state() {
  local actual
  actual=$(state "$2")
  [ "$3" = closed ] && { [ "$actual" = hidden ] || [ "$actual" = gone ]; } && actual=closed
  check "$1" "$3" "$actual"
}

keep_shots() { # on failure (or asked to): the screenshots where a person can look at them
  [ "$failures" -eq 0 ] && [ -z "${QUOKKA_DESKTOP_KEEP_SHOTS:-}" ] && return
  [ -d "$work/shots" ] || return
  mkdir -p "$output"
  cp "$work/shots/"*.png "$output/" 2>/dev/null
  echo "screenshots of this scenario: $output"
}
