# Sourced by the package tests: a dpkg database in a scratch folder, and dpkg
# acting on it. The maintainer scripts run on this machine with DPKG_ROOT set
# (--force-script-chrootless: the scratch root has no shell to chroot into),
# and they touch nothing outside DPKG_ROOT then; the dependencies are not
# installed there.

# dpkg acts on any database, even a scratch one, only as root: the test is
# skipped (ctest's SKIP_RETURN_CODE) for an ordinary user.
if [[ $(id -u) != 0 ]]; then
  echo "skipped: dpkg installs into a scratch root only as root (this is uid $(id -u))"
  exit 77
fi

# new_scratch_root FOLDER: an empty system with an empty dpkg database.
new_scratch_root() {
  rm -rf "$1"
  mkdir -p "$1/var/lib/dpkg/info" "$1/var/lib/dpkg/updates" "$1/etc"
  : >"$1/var/lib/dpkg/status"
}

# in_root FOLDER dpkg-arguments...
in_root() {
  local root=$1
  shift
  dpkg --root="$root" --force-script-chrootless --force-depends --force-confold "$@"
}

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# same_file A B WHAT
same_file() {
  cmp -s "$1" "$2" || fail "$3"
}
