#!/usr/bin/env bash
# Starts the program, or explains how to run it without a display. First its probe helper
# (beside it) gets the raw-socket capability, so that routes can be traced without ping
# sockets and without running anything else privileged.
program=$1
helper=$(dirname "$program")/quokka-quokka-probe
if [ -f "$helper" ] && ! getcap "$helper" 2>/dev/null | grep -q cap_net_raw; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  echo "Giving the probe helper the raw-socket capability: ${sudo_cmd[*]} setcap cap_net_raw+ep $helper"
  "${sudo_cmd[@]}" setcap cap_net_raw+ep "$helper" ||
    echo "setcap failed: routes are traced only where ping sockets are allowed (see the README)"
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
  echo "No display is available; for a headless exploration run: QT_QPA_PLATFORM=offscreen $program --explore example.com --quit --report"
  exit 0
fi
exec "$program"
