#!/usr/bin/env bash
# The Debian packages made by cpack from this build tree: their files where they belong, their
# dependencies declared, lintian without a remark, hardened programs, the manual pages and the
# metainfo readable, the systemd unit accepted, and the tool running from an unpacked copy.
# Usage: debian_packages.sh BUILD_DIR CPACK fortified|unfortified. Exits 77 (skip) where a
# tool is missing. glibc's checked functions need an optimising build without the sanitizers
# (which check more themselves): "unfortified" says the build is not one, so that check is left out.
set -euo pipefail
build=$1
cpack=$2
fortified=$3

for need in dpkg-deb:dpkg-dev dpkg-shlibdeps:dpkg-dev lintian:lintian hardening-check:devscripts \
    appstreamcli:appstream man:man-db; do
    if ! command -v "${need%%:*}" > /dev/null; then
        echo "SKIP: ${need%%:*} is missing (Debian package ${need#*:})"
        exit 77
    fi
done

work_template=/tmp/tertulia-packages-XXXXXX
# shellcheck source=../../scripts/work-folder.sh
. "$(dirname "$0")/../../scripts/work-folder.sh"
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

if ! timeout 240 "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work" > "$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack -G DEB"
    exit 1
fi
echo "cpack: ${SECONDS} s"
console=$(echo "$work"/tertulia_*.deb)
service=$(echo "$work"/tertulia-service_*.deb)
for deb in "$console" "$service"; do
    [ -f "$deb" ] || { echo "FAIL: no $deb among: $(ls "$work")"; exit 1; }
done

# has PACKAGE PATH / lacks PACKAGE PATH: one line of `dpkg-deb -c` ends in PATH, or none does.
listing() { dpkg-deb -c "$1" | awk '{ print $6 }' | sed 's|^\./|/|; s|/$||'; }
has() { listing "$1" | grep -qxF "$2" || fail "$(basename "$1") lacks $2"; }
lacks() { ! listing "$1" | grep -qxF "$2" || fail "$(basename "$1") holds $2"; }

has "$console" /usr/bin/tertulia
has "$console" /usr/bin/tertulia-tool
has "$console" /usr/share/tertulia/sonido.wav
has "$console" /usr/share/applications/tertulia.desktop
has "$console" /usr/share/icons/hicolor/32x32/apps/tertulia.png
has "$console" /usr/share/metainfo/es.grupolaredo.Tertulia.metainfo.xml
has "$console" /usr/share/man/man1/tertulia.1.gz
has "$console" /usr/share/man/man1/tertulia-tool.1.gz
has "$service" /usr/share/man/man8/tertulia-service.8.gz
for deb in "$console" "$service"; do
    package=$(dpkg-deb -f "$deb" Package)
    has "$deb" "/usr/share/doc/$package/copyright"
    has "$deb" "/usr/share/doc/$package/changelog.gz"
    # Every error and warning counts, pedantic remarks too; information does not.
    remarks=$(lintian --pedantic "$deb" 2>&1 | grep -v 'running with root privileges' || true)
    [ -z "$remarks" ] || fail "lintian on $(basename "$deb"):"$'\n'"$remarks"
done
lacks "$console" /usr/bin/sonido.wav
lacks "$console" /usr/bin/tertulia-service
has "$service" /usr/bin/tertulia-service
has "$service" /usr/lib/systemd/system/tertulia-service.service
has "$service" /etc/default/tertulia-service
has "$service" /etc/logrotate.d/tertulia-service
has "$service" /usr/share/doc/tertulia-service/README.md
lacks "$service" /usr/bin/tertulia
lacks "$service" /usr/bin/tertulia-tool
for deb in "$console" "$service"; do
    outside=$(listing "$deb" | grep -vE '^$|^(/usr|/etc)(/|$)' || true)
    [ -z "$outside" ] || fail "$(basename "$deb") installs outside /usr and /etc: $outside"
done

# The shared libraries that the programs link, and the data they load, are declared, so that
# apt brings them.
depends() { dpkg-deb -f "$1" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//'; }
for library in libqt6widgets6 libsdl2-2.0-0 libjpeg62-turbo libstdc++6 qt6-translations-l10n; do
    depends "$console" | grep -qxF "$library" || fail "tertulia does not depend on $library"
done
for library in libsqlite3-0 libssl3 libstdc++6; do
    depends "$service" | grep -qxF "$library" || fail "tertulia-service does not depend on $library"
done
for conffile in /etc/default/tertulia-service /etc/logrotate.d/tertulia-service; do
    dpkg-deb --info "$service" conffiles | grep -qxF "$conffile" || fail "$conffile is not a conffile"
done
for script in postinst prerm postrm; do
    dpkg-deb --info "$service" "$script" | sh -n || fail "the $script script does not parse"
done
if command -v apt-get > /dev/null; then
    for deb in "$console" "$service"; do
        # A simulation changes nothing, so it need not wait for apt's lock.
        timeout 60 apt-get install --simulate --no-install-recommends -o Debug::NoLocking=1 \
            "$deb" > "$work/apt.log" 2>&1 ||
            { cat "$work/apt.log"; fail "apt cannot install $(basename "$deb")"; }
    done
    echo "apt's simulation done at ${SECONDS} s"
fi

# The tool runs from an unpacked copy, and the unpacked console's data is where it looks.
root="$work/root"
dpkg-deb -x "$console" "$root"
dpkg-deb -x "$service" "$root"
digest=$("$root/usr/bin/tertulia-tool" md5 -s x) || fail "the unpacked tertulia-tool failed"
[ "$digest" = 9DD4E461268C8034F5C8564E155C67A6 ] || fail "unpacked tertulia-tool md5 -s x: $digest"
hardening_options=(--nocfprotection)
[ "$fortified" = fortified ] || hardening_options+=(--nofortify)
hardening-check "${hardening_options[@]}" "$root"/usr/bin/* > "$work/hardening.log" 2>&1 ||
    { cat "$work/hardening.log"; fail "hardening-check refuses a program"; }
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.xml > "$work/appstream.log" 2>&1 ||
    { cat "$work/appstream.log"; fail "appstreamcli refuses the metainfo"; }
for page in "$root"/usr/share/man/man*/*.gz; do
    warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 > /dev/null)
    [ -z "$warnings" ] || fail "man -l $(basename "$page"): $warnings"
done
if command -v logrotate > /dev/null; then
    # Debug mode reads the configuration and rotates nothing.
    logrotate --debug --state "$work/logrotate.state" "$root/etc/logrotate.d/tertulia-service" \
        > "$work/logrotate.log" 2>&1 && ! grep -q '^error' "$work/logrotate.log" ||
        { cat "$work/logrotate.log"; fail "logrotate refuses /etc/logrotate.d/tertulia-service"; }
else
    echo "NOTE: logrotate is missing (Debian package logrotate); its configuration was not checked"
fi
cmp -s "$root/usr/share/tertulia/sonido.wav" "$(dirname "$0")/../../assets/sonido.wav" ||
    fail "the packaged sound differs from assets/sonido.wav"

# The unit as systemd reads it; a copy names the unpacked binary, which verify checks.
mkdir "$work/unit"
sed "s|/usr/bin/tertulia-service|$root/usr/bin/tertulia-service|" \
    "$root/usr/lib/systemd/system/tertulia-service.service" > "$work/unit/tertulia-service.service"
if ! command -v systemd-analyze > /dev/null; then
    echo "NOTE: systemd-analyze is missing (Debian package systemd); the unit was not verified"
elif ! systemd-analyze --version > /dev/null 2>&1; then
    echo "NOTE: systemd-analyze cannot run here; the unit was not verified"
else
    # verify reports unknown or misspelt settings as warnings with success; any output fails.
    if ! systemd-analyze verify --man=no "$work/unit/tertulia-service.service" \
        > "$work/verify.log" 2>&1 || [ -s "$work/verify.log" ]; then
        cat "$work/verify.log"
        fail "systemd-analyze verify refuses the unit"
    fi
    exposure=$(systemd-analyze security --offline=yes "$work/unit/tertulia-service.service" 2>&1 |
        grep -F 'Overall exposure' || true)
    echo "$exposure"
    [[ "$exposure" =~ (SAFE|OK) ]] || fail "the unit's exposure is not OK or better: $exposure"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "packages: $(basename "$console") $(basename "$service")"
