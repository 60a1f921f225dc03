#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The packaging stage of the test run: builds the three Debian packages into a
# scratch folder (never into the tree), and checks them as a user of the
# packages would meet them: lintian at its default level, no error and no
# warning; the desktop entry and the AppStream entry through their
# validators; the capability grant in the console's postinst; and a C program
# built with pkg-config against the unpacked library packages, run on LANA 0;
# the service's units through systemd-analyze (verify, and its security
# rating: 2.0 or lower) and its system user; the hosts module's package, its
# module exporting the entry points alone, and its maintainer scripts run on
# a copy of an nsswitch.conf.
set -euo pipefail
cd "$(dirname "$0")/.."
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
debs=$scratch/debs root=$scratch/root

tools/build-packages.sh "$debs" >"$scratch/build.log" 2>&1 || { tail -50 "$scratch/build.log"; exit 1; }
ls -1 "$debs"
for package in korvel korveld libnss-korvel libkorvel-netbios1 libkorvel-netbios-dev; do
  ls "$debs/${package}"_*.deb >/dev/null || { echo "package $package was not built" >&2; exit 1; }
done

echo "--- lintian"
lintian --fail-on error,warning "$debs"/*.deb
echo "lintian: no errors, no warnings"

mkdir -p "$root"
for deb in "$debs"/*.deb; do dpkg-deb -x "$deb" "$root"; done
echo "--- desktop-file-validate"
desktop-file-validate "$root/usr/share/applications/korvel.desktop"
echo "--- appstreamcli validate"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml

echo "--- postinst"
dpkg-deb -e "$debs"/korvel_*.deb "$scratch/control"
grep -q 'setcap cap_net_bind_service+ep' "$scratch/control/postinst"
[ -x "$root/usr/bin/korvel-nb" ] && grep -q 'program=/usr/bin/korvel-nb$' "$scratch/control/postinst"
if grep -v 'setcap -r' "$scratch/control/postinst" | grep -q '/usr/bin/korvel\([^-]\|$\)'; then
    echo "the console package's postinst grants the console a capability" >&2
    exit 1
fi
echo "the console package's postinst grants cap_net_bind_service to korvel-nb alone"

echo "--- the service's units"
units=/lib/systemd/system
for file in $units/korveld.service $units/korveld.socket /usr/lib/sysusers.d/korveld.conf /usr/sbin/korveld; do
    [ -e "$root$file" ] || { echo "korveld: $file is not in the package" >&2; exit 1; }
done
grep -qx 'ListenSequentialPacket=/run/korvel/provider.sock' "$root$units/korveld.socket"
grep -q '^u korvel ' "$root/usr/lib/sysusers.d/korveld.conf"
# verify resolves the units' dependencies inside the root: the system's own
# units go beside ours (copies: links would point out of the root).
cp -rn $units/. "$root$units/"
systemd-analyze verify --man=no --root="$root" korveld.socket korveld.service
rating=$(systemd-analyze security --offline=true --root="$root" korveld.service | sed -n 's/.*exposure level for korveld.service: \([0-9.]*\).*/\1/p')
echo "korveld.service exposure: $rating"
awk -v r="$rating" 'BEGIN { exit !(r != "" && r <= 2.0) }' || { echo "korveld.service is rated $rating, above 2.0" >&2; exit 1; }

echo "--- the hosts module"
module=$(find "$root/usr/lib" -name libnss_korvel.so.2)
[ -n "$module" ] || { echo "libnss-korvel: no libnss_korvel.so.2" >&2; exit 1; }
exported=$(nm -D --defined-only "$module" | awk '{print $3}' | sort | tr '\n' ' ')
[ "$exported" = "_nss_korvel_gethostbyname2_r _nss_korvel_gethostbyname3_r _nss_korvel_gethostbyname4_r _nss_korvel_gethostbyname_r " ] ||
  { echo "libnss_korvel.so.2 exports: $exported" >&2; exit 1; }
dpkg-deb -e "$debs"/libnss-korvel_*.deb "$scratch/nss"
printf 'passwd: files\nhosts:          files mdns4_minimal [NOTFOUND=return] dns myhostname\n' >"$scratch/nsswitch.conf"
for script in postinst prerm; do
  sed "s|/etc/nsswitch.conf|$scratch/nsswitch.conf|g" "$scratch/nss/$script" >"$scratch/$script"
done
sh "$scratch/postinst" configure "" && sh "$scratch/postinst" configure ""
grep -qx 'hosts:          files mdns4_minimal \[NOTFOUND=return\] korvel dns myhostname' "$scratch/nsswitch.conf"
sh "$scratch/prerm" remove
grep -qx 'hosts:          files mdns4_minimal \[NOTFOUND=return\] dns myhostname' "$scratch/nsswitch.conf"
echo "libnss-korvel adds korvel before dns once, and its removal takes it out"

echo "--- C program on the packages"
tests/package/build_client.sh "$root" "${CC:-cc}"
"$root/netbios_client" 0 async
# The plain closing line a test run ends with: the eight checks above.
echo "packages: 8 passed, 0 failed"
