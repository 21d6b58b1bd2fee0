#!/usr/bin/env bash
# What an idle `phone window` costs: on a fresh device at clock rate 1 with
# the settings program's dialog up, the window runs under xvfb-run for 10
# seconds of real time with nothing changing; prints its processor time
# (utime + stime from /proc/PID/stat) as a share of one core, and its
# resident memory.  Usage: bench/window_idle.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-10}"
phone_bin="$PWD/build/bin/phone"
[ -x "$phone_bin" ] || { echo "error: build phone first (cmake --build build --target phone)" >&2; exit 1; }

device="$(mktemp -d)/device"
trap 'rm -rf "$(dirname "$device")"' EXIT
phone() { "$phone_bin" --device "$device" "$@"; }
phone init --audio null >/dev/null
phone run '\Program Files\CallTicker\CallTickerCfg.exe' >/dev/null

export phone_bin device seconds
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  GSK_RENDERER=cairo GTK_A11Y=none "$phone_bin" --device "$device" window 2>/dev/null &
  window=$!
  xdotool search --sync --onlyvisible --name "^phone: " >/dev/null
  sleep 2 # its first drawing done
  ticks() { awk "{print \$14 + \$15}" "/proc/$window/stat"; }
  before=$(ticks)
  sleep "$seconds"
  after=$(ticks)
  hz=$(getconf CLK_TCK)
  rss=$(awk "/^VmRSS/ {print \$2}" "/proc/$window/status")
  kill "$window"; wait "$window" 2>/dev/null || true
  awk -v t=$((after - before)) -v hz="$hz" -v s="$seconds" -v rss="$rss" \
    "BEGIN { printf \"idle for %d s: %.2f s of processor time, %.2f %% of a core; resident memory %.1f MB\n\", s, t / hz, 100 * t / hz / s, rss / 1024 }"
'
phone init >/dev/null # ends the settings program
