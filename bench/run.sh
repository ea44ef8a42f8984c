#!/usr/bin/env bash
# Runs the benchmarks against the paced simulator; the table goes to stdout, the figures
# to <build>/bench/results.json.
set -euo pipefail
build=${1:-build}
mkdir -p "$build/bench"
"$build/bin/rmx7bench" "$build/bin/rmx7sim" "$build/bin/rmx7scope" "$build/bench/results.json"
# The command-line tool; its figures go to <build>/bench/ctl.json.
"$build/bin/rmx7ctlbench" "$build/bin/rmx7sim" "$build/bin/rmx7ctl" "$build/bench/ctl.json"

# The plant link: rmx7ctl publish to a mosquitto on the loopback; its own file.
"$build/bin/rmx7mqttbench" "$build/bin/rmx7sim" "$build/bin/rmx7ctl" "$build/bench/mqtt.json"
# Eight lines in one rmx7ctl publish, on bare peers of the bench's own; its own file.
"$build/bin/rmx7linesbench" "$build/bin/rmx7ctl" "$build/bench/lines.json"
# The line's agent: commands during a run and a swapped controller restored; its own file.
"$build/bin/rmx7agentbench" "$build/bin/rmx7sim" "$build/bin/rmx7ctl" "$build/bench/agent.json"
# The MQTT client taking what 200 lines publish; its own file.
"$build/bin/rmx7mqttinbench" "$build/bench/mqtt-in.json"

# The recording viewer: a generated one-hour recording opened and panned; its own file.
"$build/bin/rmx7viewbench" "$build/bin/rmx7sim" "$build/bench/view.json"

# The commissioning report's writer; its own file, and an example report to look at.
"$build/bin/rmx7reportbench" "$build/bench/report.json" "$build/bench/report-example.pdf"

# The audit trail's append; its own file.
"$build/bin/rmx7auditbench" "$build/bench/audit.json"

# The plant window: 200 simulated lines on a mosquitto on the loopback, the window on Xvfb,
# and rmx7ctl plant status; its own file.
"$build/bin/rmx7plantbench" "$build/bin/rmx7scope" "$build/bin/rmx7ctl" "$build/bin/rmx7plantload" \
  "$build/bench/plant.json"
