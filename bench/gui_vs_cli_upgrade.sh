#!/usr/bin/env bash
# One whole upgrade through the window (stbup-gui, offscreen) and one through
# `stbup upgrade`, each against a fresh simulated box over a pty with the same
# image (a 4 Mbyte flash), as fast as the pty goes. Prints the box's own measure of each
# exchange (wake-up byte to its last line) and the ratio window / command line.
#
#   bench/gui_vs_cli_upgrade.sh [BUILD_DIR] [PAYLOAD_KIB] [ROUNDS]   (defaults: build, 2048, 5)
#
# The machine may be shared: rounds alternate the two, and medians are compared.
set -euo pipefail

build=${1:-build}
kib=${2:-2048}
rounds=${3:-5}
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
  rm -f "$work/$name.sim"
  # A box that is never reached gives up instead of holding the benchmark.
  timeout 120 "$stbup" simulate --image "$work/box.bin" --flash-size 0x41 \
    >"$work/$name.sim" 2>"$work/$name.sim.err" &
  simulator=$!
  pids+=("$simulator")
  local tries=50
  until [ -s "$work/$name.sim" ] && [ -n "$(head -n 1 "$work/$name.sim")" ]; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || { echo "gui_vs_cli_upgrade: the simulator did not start" >&2; exit 1; }
    sleep 0.1
  done
  pty=$(head -n 1 "$work/$name.sim")
}

# The box's summary: seconds and verdict.
summary() { tail -n 1 "$work/$1.sim"; }
field() { sed -n "s/.*\"$2\":\([^,}]*\).*/\1/p" <<<"$1" | tr -d '"'; }

cat_ini() {
  cat >"$work/stbup.ini" <<INI
[SOFTWARE]
TAVOLINKS\\SOFTWAREUPGRADE_TZIP\\FileName=$work/box.bin
TAVOLINKS\\SOFTWAREUPGRADE_TZIP\\ComPort=$pty
TAVOLINKS\\SOFTWAREUPGRADE_TZIP\\PortIndex=0
INI
}

# One upgrade each way; appends the box's seconds to cli_runs / gui_runs.
cli_runs=()
gui_runs=()
verdicts=""
one_round() {
  start_box cli
  "$stbup" upgrade "$work/box.bin" --port "$pty" --quiet >/dev/null 2>"$work/cli.err" || true
  wait "$simulator" || true
  local cli
  cli=$(summary cli)
  cli_runs+=("$(field "$cli" seconds)")
  verdicts+=" $(field "$cli" verdict)"

  start_box gui
  cat_ini
  STBUP_SETTINGS="$work/stbup.ini" QT_QPA_PLATFORM=offscreen "$gui" >"$work/gui.log" 2>&1 &
  local window=$!
  pids+=("$window")
  wait "$simulator" || true
  kill "$window" 2>/dev/null || true
  wait "$window" 2>/dev/null || true
  local gui
  gui=$(summary gui)
  gui_runs+=("$(field "$gui" seconds)")
  verdicts+=" $(field "$gui" verdict)"
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

for ((round = 0; round < rounds; round++)); do one_round; done
cli_median=$(median "${cli_runs[@]}")
gui_median=$(median "${gui_runs[@]}")
echo "image: ${kib} KiB payload, ${kib} blocks, $rounds rounds"
echo "stbup upgrade: exchange median ${cli_median} s (runs: ${cli_runs[*]})"
echo "stbup-gui:     exchange median ${gui_median} s (runs: ${gui_runs[*]})"
ratio=$(awk -v g="$gui_median" -v c="$cli_median" 'BEGIN { printf "%.3f", g / c }')
echo "window / command line: $ratio (limit 1.20)"
case "$verdicts" in
  *[!\ a-z]* | *stopped* | *mismatch* | *silent* | *hung_up* | *no_* | *bad_* | *_fail* | *timeout* | *too_many* | *wrong* | *pc_gone*)
    echo "not every box verified:$verdicts" >&2
    exit 1
    ;;
esac
awk -v r="$ratio" 'BEGIN { exit !(r <= 1.20) }'
