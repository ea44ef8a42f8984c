#!/usr/bin/env bash
# The package of `make package` holds the programs, their data, menu entry, icon, manual
# pages, Debian documents and the publisher's unit with an example config and the shared
# defaults as a conffile, and depends on
# what the binaries link; lintian finds nothing to warn of, and systemd accepts the unit
# as the package installs it. 77: none built.
set -euo pipefail
deb=$(ls "$1"/rmx7scope_*.deb 2>/dev/null | head -n 1) || true
[[ -n $deb ]] || { echo "no package built (make package)"; exit 77; }
listing=$(dpkg-deb -c "$deb")
for file in bin/rmx7scope bin/rmx7ctl bin/rmx7sim share/rmx7scope/K-VEX-RMX7-PIRA-ScopeV20.uir \
    share/rmx7scope/lg.svg share/applications/rmx7scope.desktop share/doc/rmx7scope/copyright \
    share/icons/hicolor/scalable/apps/rmx7scope.svg share/doc/rmx7scope/changelog.gz \
    share/man/man1/rmx7scope.1.gz share/man/man1/rmx7ctl.1.gz share/man/man1/rmx7sim.1.gz \
    lib/systemd/system/rmx7-publish@.service share/doc/rmx7scope/examples/publish.conf; do
    grep -q " \./usr/$file\$" <<<"$listing" || { echo "not in the package: /usr/$file"; exit 1; }
done
grep -q " \./etc/rmx7/publish/defaults.conf\$" <<<"$listing" ||
    { echo "not in the package: /etc/rmx7/publish/defaults.conf"; exit 1; }
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/rmx7/publish/defaults.conf ||
    { echo "defaults.conf is no conffile"; exit 1; }
[[ $(dpkg-deb -f "$deb" Depends) == *libqt6widgets6* ]] || { echo "no library dependencies"; exit 1; }

lint=$(lintian --fail-on error,warning "$deb" 2>&1) || { echo "$lint"; exit 1; }

# The unit's command and the targets it names must exist for the check: the package's
# files, beside the system's targets.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
cp /lib/systemd/system/*.target "$root/usr/lib/systemd/system/"
verdict=$(systemd-analyze verify --root="$root" --man=no \
    "$root/usr/lib/systemd/system/rmx7-publish@.service" 2>&1) && [[ -z $verdict ]] ||
    { echo "systemd-analyze verify: $verdict"; exit 1; }
