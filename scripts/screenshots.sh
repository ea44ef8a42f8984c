#!/usr/bin/env bash
# The README's pictures: the program on its built-in simulator under Xvfb, worked through
# its keyboard shortcuts as an operator would, each state taken into a PNG.
#   scripts/screenshots.sh [BUILD] [OUTPUT] [SCREEN] [SCALE]
# SCREEN (1200x780, the panel's designed size) and SCALE (1, QT_SCALE_FACTOR) look at the
# panel on other screens; the README's pictures are made with both left as they are.
set -euo pipefail
build=${1:-build}
out=${2:-docs/images}
screen=${3:-1200x780}
scale=${4:-1}
bin=$build/bin
mkdir -p "$out"
work=$(mktemp -d)
pids=()
# The programs first, the X server they show on last.
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb on the first free display, which it names once it accepts clients.
Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -1 "$work/display")"
export QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$scale"
# No session bus: no accessibility bus to look for, as on a plain X server.
export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/rmx7screenshots

# A picture without the time it was taken: a file changes only with what it shows.
shot() { import -window "$1" -define png:exclude-chunk=date,time "$out/$2.png"; }
keys() { xdotool key --delay 80 "$@"; sleep 0.5; }

# Starts the program and waits until its window is mapped and, with the panel, until its
# trace holds the eight texts of its start-up.
start_program() {
  rm -f "$work/trace"
  "$bin/rmx7scope" "$@" --trace "$work/trace" &
  pids+=($!)
  if [ "$1" != --view ] && [ "$1" != --plant ]; then
    for _ in $(seq 100); do
      [ "$(grep -c ' STATUS ' "$work/trace" 2>/dev/null)" -ge 8 ] 2>/dev/null && break
      sleep 0.1
    done
  fi
  window=$(xdotool search --sync --onlyvisible --pid "${pids[-1]}" | head -1)
  xdotool windowfocus --sync "$window"
  sleep 1
}

start_program --simulate
# A NORM run, long enough for the chart to fill.
keys alt+u
sleep 5
shot root panel-norm-run
keys alt+o

# A RAW run, then a capture of the RAW curve.
keys alt+h Up
keys alt+u
sleep 5
keys alt+o
keys alt+d
sleep 2
shot root panel-raw-capture

# Two values typed and not sent yet.
keys alt+p Tab ctrl+a 6 4 0 Tab ctrl+a 5 3 0 Tab
shot root panel-values-not-sent

# The port ring open (its list is a window of its own, so the whole screen is taken).
keys alt+p alt+Down
sleep 1
shot root panel-port-ring
keys Escape
kill "${pids[-1]}"

# The viewer with an hour of recording, zoomed in on about a minute of it with the wheel.
"$bin/rmx7viewbench" --write-hour "$work/RMX7live-hour.csv"
start_program --view "$work/RMX7live-hour.csv"
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --window "$window" $((WIDTH / 2)) $((HEIGHT / 2))
xdotool click --repeat 14 --delay 150 4
xdotool mousemove --window "$window" $((WIDTH / 2)) $((HEIGHT - 8))
sleep 1
shot "$window" viewer-hour

# The plant window with twelve simulated lines on a mosquitto of its own: one offline, one
# with no controller, one whose set differs from its approved set, one whose agent takes read
# commands only (selected, so that the writes show dimmed).
port=$((20000 + RANDOM % 20000))
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\nuser %s\n' \
  "$port" "$(id -un)" >"$work/mosquitto.conf"
/usr/sbin/mosquitto -c "$work/mosquitto.conf" 2>/dev/null &
pids+=($!)
sleep 1
"$bin/rmx7plantload" --broker "mqtt://127.0.0.1:$port" --lines 12 --mix &
pids+=($!)
sleep 1
start_program --plant "mqtt://127.0.0.1:$port"
# Enough live values for a trend in every row, then line010 picked with the mouse.
sleep 8
# The table's rows are 22 pixels high at scale 1, the first 113 pixels from the top.
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove --window "$window" 60 $(((113 + 9 * 22) * scale)) click 1
xdotool mousemove --window "$window" $((WIDTH - 20)) 12
sleep 1
shot root plant-window
