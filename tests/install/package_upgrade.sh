#!/usr/bin/env bash
# package_upgrade.sh DEB WORK SHIPPED_SETTINGS
# An upgrade from 1.0.8, whose configuration file was /opt/tamsolt/setting.ini,
# keeps an edited file (now /etc/tamsolt/setting.ini, the shipped one beside it
# as .dpkg-new), drops an unchanged one, and a failed upgrade puts back the
# file the new package had set aside.
set -euo pipefail
deb=$1 work=$2 shipped=$3
source "$(dirname "$0")/scratch_root.sh"
rm -rf "$work"
mkdir -p "$work"

# 1.0.8 as it was packaged: the programs and setting.ini in /opt/tamsolt, the
# latter its configuration file.
old=$work/old
mkdir -p "$old/DEBIAN" "$old/opt/tamsolt"
cp "$shipped" "$old/opt/tamsolt/setting.ini"
printf '#!/bin/sh\n' >"$old/opt/tamsolt/tamsolt-cli"
chmod 755 "$old/opt/tamsolt/tamsolt-cli"
cat >"$old/DEBIAN/control" <<CONTROL
Package: tamsolt
Version: 1.0.8
Architecture: $(dpkg-deb -f "$deb" Architecture)
Maintainer: Tamsolt maintainers <tamsolt@localhost>
Description: Writes the images of a VX742 over USB
CONTROL
echo /opt/tamsolt/setting.ini >"$old/DEBIAN/conffiles"
dpkg-deb --root-owner-group -b "$old" "$work/tamsolt_1.0.8.deb" >/dev/null

printf '[setup]\r\nBOOT=1\r\n' >"$work/edited.ini"
for edited in yes no; do
  root=$work/root-$edited
  new_scratch_root "$root"
  in_root "$root" -i "$work/tamsolt_1.0.8.deb" >"$work/$edited.log" 2>&1 || fail "1.0.8: $(cat "$work/$edited.log")"
  [[ $edited == no ]] || cp "$work/edited.ini" "$root/opt/tamsolt/setting.ini"
  in_root "$root" -i "$deb" >>"$work/$edited.log" 2>&1 || fail "upgrade: $(cat "$work/$edited.log")"

  etc=$root/etc/tamsolt/setting.ini
  if [[ $edited == yes ]]; then
    same_file "$work/edited.ini" "$etc" "the edited setting.ini was lost"
    same_file "$shipped" "$etc.dpkg-new" "the shipped setting.ini is not kept as .dpkg-new"
  else
    same_file "$shipped" "$etc" "an unchanged setting.ini did not become the shipped one"
    [[ ! -e $etc.dpkg-new ]] || fail "an unchanged setting.ini left a .dpkg-new"
  fi
  leftovers=$(find "$root/opt/tamsolt" -name 'setting.ini*')
  [[ -z $leftovers ]] || fail "edited=$edited: left in /opt: $leftovers"
  conffiles=$(dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Conffiles}\n' tamsolt | awk '$NF != "obsolete" && NF {print $1}')
  [[ $conffiles == $'/etc/tamsolt/setting.ini\n/etc/tamsolt/station.ini\n/etc/tamsolt/line.ini' ]] || fail "conffiles after the upgrade: $conffiles"
done

# A failed upgrade: preinst set the unchanged file aside, postrm abort-upgrade
# puts it back.
root=$work/root-abort
new_scratch_root "$root"
in_root "$root" -i "$work/tamsolt_1.0.8.deb" >"$work/abort.log" 2>&1 || fail "1.0.8: $(cat "$work/abort.log")"
dpkg-deb -e "$deb" "$work/control"
export DPKG_ROOT=$root DPKG_ADMINDIR=$root/var/lib/dpkg
"$work/control/preinst" upgrade 1.0.8
[[ ! -e $root/opt/tamsolt/setting.ini ]] || fail "preinst did not set the unchanged file aside"
"$work/control/postrm" abort-upgrade 1.1.0
same_file "$shipped" "$root/opt/tamsolt/setting.ini" "abort-upgrade did not put setting.ini back"
[[ ! -e $root/opt/tamsolt/setting.ini.dpkg-remove ]] || fail "abort-upgrade left the .dpkg-remove"

[[ $failures -eq 0 ]] || exit 1
echo "upgrades from 1.0.8 keep an edited setting.ini"
