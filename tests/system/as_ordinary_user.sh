#!/bin/sh
# as_ordinary_user.sh program args...: runs the program as it is when not root,
# otherwise as nobody. Exits 77 (skipped) when nobody cannot reach a file named.
[ "$(id -u)" = 0 ] || exec "$@"
as_nobody="setpriv --reuid=nobody --regid=nogroup --clear-groups"
for arg in "$@"; do
  case $arg in
    /*) $as_nobody test -r "$arg" || { echo "nobody cannot reach $arg"; exit 77; } ;;
  esac
done
exec $as_nobody "$@"
