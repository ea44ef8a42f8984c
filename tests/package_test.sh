#!/usr/bin/env bash
# The package of `make package` holds the programs, their data, menu entry, icon, manual
# pages and Debian documents, and depends on what the binaries link. 77: none built.
set -euo pipefail
deb=$(ls "$1"/rmx7scope_*.deb 2>/dev/null | head -n 1) || true
[[ -n $deb ]] || { echo "no package built (make package)"; exit 77; }
listing=$(dpkg-deb -c "$deb")
for file in bin/rmx7scope bin/rmx7ctl bin/rmx7sim share/rmx7scope/K-VEX-RMX7-PIRA-ScopeV20.uir \
    share/rmx7scope/lg.svg share/applications/rmx7scope.desktop share/doc/rmx7scope/copyright \
    share/icons/hicolor/scalable/apps/rmx7scope.svg share/doc/rmx7scope/changelog.gz \
    share/man/man1/rmx7scope.1.gz share/man/man1/rmx7ctl.1.gz share/man/man1/rmx7sim.1.gz; do
    grep -q " \./usr/$file\$" <<<"$listing" || { echo "not in the package: /usr/$file"; exit 1; }
done
[[ $(dpkg-deb -f "$deb" Depends) == *libqt6widgets6* ]] || { echo "no library dependencies"; exit 1; }
