#!/usr/bin/env bash
# package_check.sh DEB WORK SHIPPED_SETTINGS
# What a Debian administrator checks of the package: lintian has no error and
# no warning but the overridden ones (each with its reason), and installed
# into a scratch root it holds the configuration files under /etc, the
# station's user, unit and udev rule lines, the copyright and the changelog;
# removing and purging it leave no file of it behind.
set -euo pipefail
deb=$1 work=$2 shipped=$3
source "$(dirname "$0")/scratch_root.sh"
version=$(dpkg-deb -f "$deb" Version)

# ---- lintian ----
command -v lintian >/dev/null || { echo "lintian is missing: run scripts/setup.sh" >&2; exit 1; }
if ! lintian_out=$(lintian --fail-on error,warning "$deb" 2>&1); then
  fail "lintian:"$'\n'"$lintian_out"
fi
# The programs are built with Debian's hardening (fortify, stack protector, PIE,
# bindnow), where the tree is built as it ships (TAMSOLT_HARDENED).
if [ "${TAMSOLT_HARDENED:-}" = 1 ] && hardening=$(lintian -I "$deb" 2>&1 | grep hardening-); then
  fail "lintian says the programs are not hardened:"$'\n'"$hardening"
fi
# Every override explains itself on the line above it, and only /opt is overridden.
overrides=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/lintian/overrides/tamsolt)
previous=""
while IFS= read -r line; do
  if [[ -n $line && $line != \#* ]]; then
    [[ $previous == \#\ ?* ]] || fail "lintian override without a reason: $line"
    [[ $line == "tamsolt: dir-or-file-in-opt ["opt/tamsolt/* ]] || fail "override beyond /opt: $line"
  fi
  previous=$line
done <<<"$overrides"

# ---- installed into a scratch root ----
root=$work/root
new_scratch_root "$root"
in_root "$root" -i "$deb" >"$work/install.log" 2>&1 || fail "dpkg -i: $(cat "$work/install.log")"

conffiles=$(dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Conffiles}\n' tamsolt | awk 'NF {print $1}')
[[ $conffiles == $'/etc/tamsolt/setting.ini\n/etc/tamsolt/station.ini\n/etc/tamsolt/line.ini' ]] || fail "conffiles: $conffiles"
same_file "$shipped" "$root/etc/tamsolt/setting.ini" "/etc/tamsolt/setting.ini is not the shipped one"
# The programs find it by looking in /etc/tamsolt, with no copy beside them.
[[ ! -e $root/opt/tamsolt/setting.ini ]] || fail "/opt/tamsolt/setting.ini is installed"
grep -q '^\[Strings\]' "$root/etc/tamsolt/station.ini" || fail "station.ini has no [Strings]"
for program in tamsolt-cli tamsolt tamsolt-station; do
  [[ -e $root/opt/tamsolt/$program ]] || continue
  file -L "$root/opt/tamsolt/$program" | grep -q ', stripped' || fail "$program is not stripped"
done

grep -q '^tamsolt:x:[0-9]*:[0-9]*:[^:]*:/var/lib/tamsolt:/usr/sbin/nologin$' "$root/etc/passwd" ||
  fail "no system user tamsolt: $(cat "$root/etc/passwd" 2>&1)"
grep -q '^tamsolt:' "$root/etc/group" || fail "no group tamsolt"

rule=$root/lib/udev/rules.d/60-tamsolt.rules
device='SUBSYSTEM=="usb", ENV{DEVTYPE}=="usb_device", ATTR{idVendor}=="1206", ATTR{idProduct}=="0227"'
for grant in 'TAG+="uaccess"' 'GROUP="tamsolt", MODE="0660"'; do
  grep -qxF "$device, $grant" "$rule" || fail "udev rule line missing: $grant"
done

# The unit, as systemd reads it: the host's units stand in for the system the
# scratch root lacks; any complaint fails.
unit=$root/lib/systemd/system/tamsolt-station.service
mkdir -p "$root/usr/lib/systemd"
cp -r /lib/systemd/system "$root/usr/lib/systemd/"
verify=$(cd "$work" && systemd-analyze verify --root="$root" "$unit" 2>&1) && [[ -z $verify ]] ||
  fail "systemd-analyze verify: $verify"
for line in 'User=tamsolt' 'Group=tamsolt' 'StateDirectory=tamsolt' 'KillMode=process' \
            'KillSignal=SIGTERM' 'TimeoutStopSec=5min' 'WantedBy=multi-user.target' \
            'ExecStart=/opt/tamsolt/tamsolt-cli --watch --settings /etc/tamsolt/station.ini --ledger /var/lib/tamsolt/ledger.sqlite'; do
  grep -qxF "$line" "$unit" || fail "unit line missing: $line"
done
[[ ! -e $root/etc/systemd ]] || fail "the unit is enabled: $(find "$root/etc/systemd")"

doc=$root/usr/share/doc/tamsolt
head -1 "$doc/copyright" | grep -qxF 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
  fail "copyright is not machine-readable"
grep -qxF 'License: Apache-2.0' "$doc/copyright" || fail "copyright names no Apache-2.0"
grep -qF '/usr/share/common-licenses/Apache-2.0' "$doc/copyright" || fail "copyright does not point at the licence text"
zcat "$doc/changelog.gz" >"$work/changelog" || fail "changelog.gz is not gzip"
[[ $(dpkg-parsechangelog -l "$work/changelog" -S Version) == "$version" ]] ||
  fail "the changelog's latest entry is not $version"

# ---- removed, then purged ----
in_root "$root" -r tamsolt >>"$work/install.log" 2>&1 || fail "dpkg -r: $(cat "$work/install.log")"
[[ ! -e $root/opt/tamsolt && -f $root/etc/tamsolt/setting.ini ]] || fail "remove: programs left or configuration gone"
in_root "$root" -P tamsolt >>"$work/install.log" 2>&1 || fail "dpkg -P: $(cat "$work/install.log")"
[[ ! -e $root/etc/tamsolt ]] || fail "purge left $(ls "$root/etc/tamsolt")"

[[ $failures -eq 0 ]] || exit 1
echo "package $version: lintian clean, installs, removes and purges"
