#!/usr/bin/env bash
# Starts the program, or explains how to run it without a display.
program=$1
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
  echo "No display is available; for a headless exploration run: QT_QPA_PLATFORM=offscreen $program --explore example.com --quit --report"
  exit 0
fi
exec "$program"
