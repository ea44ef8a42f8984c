#!/usr/bin/env bash
# An installed program finds its panel file and logo in its data folder: install the
# build into a fresh prefix, start the program from there and wait for its first status
# text, which is written only once the panel has loaded.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for file in bin/rmx7scope bin/rmx7sim bin/rmx7ctl share/rmx7scope/K-VEX-RMX7-PIRA-ScopeV20.uir \
    share/rmx7scope/lg.svg share/applications/rmx7scope.desktop \
    share/icons/hicolor/scalable/apps/rmx7scope.svg share/doc/rmx7scope/examples/publish.conf; do
    [[ -e $prefix/$file ]] || { echo "not installed: $file"; exit 1; }
done
grep -q "^ExecStart=$prefix/bin/rmx7ctl publish " "$prefix/lib/systemd/system/rmx7-publish@.service" ||
    { echo "the publisher's unit does not run the installed rmx7ctl"; exit 1; }
QT_QPA_PLATFORM=offscreen "$prefix/bin/rmx7scope" --trace "$prefix/trace.txt" &
pid=$!
for _ in $(seq 100); do
    if grep -q " STATUS InitVars" "$prefix/trace.txt" 2>/dev/null; then
        exit 0
    fi
    kill -0 "$pid" 2>/dev/null || { echo "the installed program ended before its panel was up"; exit 1; }
    sleep 0.1
done
echo "no status text from the installed program within 10 s"
exit 1
