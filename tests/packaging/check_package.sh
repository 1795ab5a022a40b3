#!/usr/bin/env bash
# Builds the Debian package from an already built tree, unpacks it into a scratch root and checks
# it as an installed system would see it: the files are there, the programs run from there, the
# menu entry and AppStream data are valid, and the package names what the panel loads at run time.
#
#   check_package.sh SOURCE_DIR BUILD_DIR
set -euo pipefail

source_dir=$1
build_dir=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

deb=$(DOSEDESK_PACKAGE_AS_BUILT=1 "$source_dir/scripts/package.sh" "$build_dir" "$scratch/out")
version=$(dpkg-deb -f "$deb" Version)
[ "$(basename "$deb")" = "dosedesk_${version}_amd64.deb" ] || fail "package named $(basename "$deb")"

root=$scratch/root
dpkg-deb -x "$deb" "$root"
expected=(
    usr/bin/dosedesk
    usr/bin/velor-pump-sim
    usr/bin/dosedeskctl
    usr/share/dosedesk/doc/HelpContentCol.qhc
    usr/share/dosedesk/doc/HelpContent.qch
    usr/share/applications/dosedesk.desktop
    usr/share/metainfo/example.zul_vantor.dosedesk.metainfo.xml
    usr/share/icons/hicolor/scalable/apps/dosedesk.svg
    usr/share/man/man1/dosedesk.1.gz
    usr/share/man/man1/velor-pump-sim.1.gz
    usr/share/man/man1/dosedeskctl.1.gz
    usr/share/doc/dosedesk/copyright
    usr/share/doc/dosedesk/changelog.gz
    usr/share/doc/dosedesk/mqtt.md
    usr/share/doc/dosedesk/examples/dosedesk-bridge.default
    usr/lib/systemd/system/dosedesk-bridge@.service
)
for edge in 16 22 24 32 48 64 128 256; do
    expected+=("usr/share/icons/hicolor/${edge}x${edge}/apps/dosedesk.png")
done
for file in "${expected[@]}"; do
    [ -s "$root/$file" ] || fail "$file missing from the package"
done

# The programs as installed, not as built.
[ "$("$root/usr/bin/dosedesk" --version)" = "dosedesk $version" ] || fail "dosedesk --version"
[ "$("$root/usr/bin/dosedeskctl" --version)" = "dosedeskctl $version" ] || fail "dosedeskctl --version"
# Whole outputs first: grep -q ending a pipe early would fail it under pipefail.
sim_help=$("$root/usr/bin/velor-pump-sim" --help)
[[ $sim_help == *--quit-on-eof* ]] || fail "velor-pump-sim --help"
[[ $(zcat "$root/usr/share/man/man1/dosedesk.1.gz") == *simulate* ]] || fail "dosedesk.1 lacks --help"
[[ $(zcat "$root/usr/share/man/man1/velor-pump-sim.1.gz") == *"$version"* ]] ||
    fail "velor-pump-sim.1 lacks the version"

# The service starts the program as installed, with the options the example file gives.
unit=$root/usr/lib/systemd/system/dosedesk-bridge@.service
grep -q '^ExecStart=/usr/bin/dosedesk --headless --port /dev/%I \$DOSEDESK_BRIDGE_OPTIONS$' "$unit" ||
    fail "dosedesk-bridge@.service does not start the headless panel"
[[ $(zcat "$root/usr/share/man/man1/dosedesk.1.gz") == *'mqtt\-commands'* ]] || fail "dosedesk.1 lacks --mqtt"

desktop-file-validate "$root/usr/share/applications/dosedesk.desktop"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml

# Computed from the binaries, plus what Qt loads by name at run time.
depends=$(dpkg-deb -f "$deb" Depends)
for package in libmosquitto1 libqt6widgets6 libqt6serialport6 libqt6help6 libqt6sql6-sqlite qt6-qpa-plugins \
    fonts-liberation2; do
    [[ ", $depends," == *", $package"[\ ,]* ]] || fail "Depends lacks $package: $depends"
done
echo "package $(basename "$deb") checked"
