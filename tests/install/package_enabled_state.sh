#!/usr/bin/env bash
# package_enabled_state.sh DEB WORK
# What installing, upgrading, removing and purging the package do to the
# station's unit. The package is installed on this machine itself, where the
# maintainer scripts run as they do for an administrator (no DPKG_ROOT) and
# deb-systemd-helper edits /etc/systemd/system: a first install enables
# nothing, an enabled station stays enabled over an upgrade (and gets the
# links a new [Install] section adds) and over a remove then an install, a
# remove masks the unit until the next install, a purge leaves nothing. The
# machine is put back as it was afterwards, also when the test fails.
set -euo pipefail
deb=$1 work=$2

if [[ $(id -u) != 0 ]]; then
  echo "skipped: installs the package on this machine, which only root may (this is uid $(id -u))"
  exit 77
fi

unit=tamsolt-station.service
mask=/etc/systemd/system/$unit
wants=/etc/systemd/system/multi-user.target.wants/$unit
# The bumped package's unit adds this name to its [Install] section.
alias_name=tamsolt-writer.service
alias=/etc/systemd/system/$alias_name
# The unit's links, its mask and deb-systemd-helper's records of them.
ours() {
  find /etc/systemd/system /var/lib/systemd/deb-systemd-helper-* -name 'tamsolt-*' 2>/dev/null || true
}

# One tree at a time: two trees' runs would install over each other.
lock_dir=/run/lock
[[ -d $lock_dir ]] || lock_dir=/tmp
exec 9>"$lock_dir/tamsolt-package-on-this-machine.lock"
flock -w 240 9 || { echo "another tree's run holds the lock" >&2; exit 1; }

# Only where the package and its unit are absent: the test owns whatever it
# finds afterwards.
if dpkg-query -W -f='${Status}\n' tamsolt 2>/dev/null | grep -qv ' not-installed$'; then
  echo "tamsolt is installed on this machine; this test would replace it" >&2
  exit 1
fi
leftovers=$(ours)
[[ -z $leftovers ]] || { echo "this machine has tamsolt's unit state already:"$'\n'"$leftovers" >&2; exit 1; }
getent passwd tamsolt >/dev/null && had_user=yes || had_user=no
getent group tamsolt >/dev/null && had_group=yes || had_group=no

rm -rf "$work"
mkdir -p "$work"
log=$work/dpkg.log
restore() {
  dpkg --purge tamsolt >>"$log" 2>&1 || true
  ours | xargs -r rm -f
  [[ $had_user == yes ]] || userdel tamsolt 2>/dev/null || true
  [[ $had_group == yes ]] || groupdel tamsolt 2>/dev/null || true
}
trap restore EXIT

# The same package one version up, whose unit has one more [Install] line.
version=$(dpkg-deb -f "$deb" Version)
dpkg-deb -R "$deb" "$work/bumped"
sed -i "s/^Version: .*/Version: $version+1/" "$work/bumped/DEBIAN/control"
bumped_unit=$(find "$work/bumped" -name "$unit")
[[ $(grep '^\[' "$bumped_unit" | tail -1) == '[Install]' ]] || { echo "the unit does not end with [Install]" >&2; exit 1; }
echo "Alias=$alias_name" >>"$bumped_unit"
dpkg-deb --root-owner-group -Zgzip -z1 -b "$work/bumped" "$work/bumped.deb" >/dev/null

# masked|unmasked, enabled|disabled, and +alias where that link is there.
state() {
  local s=unmasked
  [[ -L $mask && $(readlink "$mask") == /dev/null ]] && s=masked
  [[ -L $wants ]] && s+=" enabled" || s+=" disabled"
  [[ -L $alias ]] && s+=" +alias"
  echo "$s"
}

failures=0
dpkg_on_machine() {
  dpkg --force-depends --force-confold "$@"
}
# what | command | the unit's state after it
while IFS='|' read -r what command expected; do
  $command </dev/null >>"$log" 2>&1 || { echo "FAIL: $what: $command failed: $(tail -20 "$log")" >&2; exit 1; }
  got=$(state)
  leftovers=$(ours)
  [[ $what != purge || -z $leftovers ]] || got+=" and left "$(echo $leftovers)
  if [[ $got != "$expected" ]]; then
    echo "FAIL: $what: the unit is '$got', expected '$expected'" >&2
    failures=$((failures + 1))
  fi
done <<STEPS
first install|dpkg_on_machine -i $deb|unmasked disabled
remove, disabled|dpkg_on_machine -r tamsolt|masked disabled
install again, disabled|dpkg_on_machine -i $deb|unmasked disabled
administrator enables|systemctl enable --quiet $unit|unmasked enabled
upgrade, enabled|dpkg_on_machine -i $work/bumped.deb|unmasked enabled +alias
remove, enabled|dpkg_on_machine -r tamsolt|masked enabled +alias
install again, enabled|dpkg_on_machine -i $work/bumped.deb|unmasked enabled +alias
purge|dpkg_on_machine -P tamsolt|unmasked disabled
STEPS

[[ $failures -eq 0 ]] || exit 1
echo "package $version: the station's unit keeps its enabled state over upgrade, remove and install; purge leaves none of it"
