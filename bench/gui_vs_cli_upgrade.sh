#!/usr/bin/env bash
# One whole upgrade through the window (stbup-gui, offscreen) and one through
# `stbup upgrade`, each against a fresh simulated box over a pty with the same
# image (a 4 Mbyte flash), as fast as the pty goes. Prints the box's own measure of each
# exchange (wake-up byte to its last line) and the ratio window / command line.
#
#   bench/gui_vs_cli_upgrade.sh [BUILD_DIR] [PAYLOAD_KIB]   (defaults: build, 2048)
set -euo pipefail

build=${1:-build}
kib=${2:-2048}
stbup=$build/cli/stbup
gui=$build/app/qt/stbup-gui
for binary in "$stbup" "$gui"; do
  [ -x "$binary" ] || { echo "gui_vs_cli_upgrade: $binary is not built" >&2; exit 2; }
done
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

head -c $((kib * 1024)) /dev/urandom >"$work/payload"
"$stbup" mkimage --model MX1 --hw 04.02.03 --sw 04.05.06 --start-block 16 \
  "$work/payload" "$work/box.bin" >/dev/null

# Starts a simulated box; sets $pty and $simulator.
start_box() {
  local name=$1
  "$stbup" simulate --image "$work/box.bin" --flash-size 0x41 >"$work/$name.sim" 2>"$work/$name.sim.err" &
  simulator=$!
  pids+=("$simulator")
  local tries=50
  until [ -s "$work/$name.sim" ]; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || { echo "gui_vs_cli_upgrade: the simulator did not start" >&2; exit 1; }
    sleep 0.1
  done
  pty=$(head -n 1 "$work/$name.sim")
}

# The box's summary: seconds and verdict.
summary() { tail -n 1 "$work/$1.sim"; }
field() { sed -n "s/.*\"$2\":\([^,}]*\).*/\1/p" <<<"$1" | tr -d '"'; }

start_box cli
started=$(date +%s.%N)
"$stbup" upgrade "$work/box.bin" --port "$pty" --quiet >/dev/null 2>"$work/cli.err" || true
wait "$simulator" || true
cli_wall=$(awk -v a="$(date +%s.%N)" -v b="$started" 'BEGIN { print a - b }')
cli=$(summary cli)

start_box gui
cat >"$work/stbup.ini" <<INI
[SOFTWARE]
TAVOLINKS\\SOFTWAREUPGRADE_TZIP\\FileName=$work/box.bin
TAVOLINKS\\SOFTWAREUPGRADE_TZIP\\ComPort=$pty
TAVOLINKS\\SOFTWAREUPGRADE_TZIP\\PortIndex=0
INI
started=$(date +%s.%N)
STBUP_SETTINGS="$work/stbup.ini" QT_QPA_PLATFORM=offscreen "$gui" >"$work/gui.log" 2>&1 &
window=$!
pids+=("$window")
wait "$simulator" || true
gui_wall=$(awk -v a="$(date +%s.%N)" -v b="$started" 'BEGIN { print a - b }')
kill "$window" 2>/dev/null || true
gui=$(summary gui)

cli_seconds=$(field "$cli" seconds)
gui_seconds=$(field "$gui" seconds)
echo "image: ${kib} KiB payload, $(field "$cli" blocks) blocks"
printf 'stbup upgrade: exchange %.3f s (wall %.3f s incl. start), verdict %s\n' \
  "$cli_seconds" "$cli_wall" "$(field "$cli" verdict)"
printf 'stbup-gui:     exchange %.3f s (wall %.3f s incl. start), verdict %s\n' \
  "$gui_seconds" "$gui_wall" "$(field "$gui" verdict)"
ratio=$(awk -v g="$gui_seconds" -v c="$cli_seconds" 'BEGIN { printf "%.3f", g / c }')
echo "window / command line: $ratio (limit 1.20)"
[ "$(field "$cli" verdict)" = verified ] && [ "$(field "$gui" verdict)" = verified ] &&
  awk -v r="$ratio" 'BEGIN { exit !(r <= 1.20) }'
