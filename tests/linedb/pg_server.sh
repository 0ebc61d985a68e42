#!/bin/sh
# pg_server.sh start|stop STATE_FILE: a throw-away PostgreSQL for the line
# database tests. start makes a cluster in a new folder under /tmp, owned by
# the caller or, under root (CI), by nobody, as the server refuses to run as
# root; it listens on a Unix socket in that folder only (no TCP), trusts every
# local connection and keeps nothing on disk safely (fsync off: the data is
# thrown away). STATE_FILE then holds the folder, which is also the socket's
# host for libpq. stop ends the server and removes the folder.
set -eu
action=$1
state=$2

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$bin/pg_ctl" ] || { echo "no PostgreSQL server: apt-get install postgresql (scripts/setup.sh)"; exit 1; }
as_owner=""
[ "$(id -u)" != 0 ] || as_owner="setpriv --reuid=nobody --regid=nogroup --clear-groups"

stop() {
  [ -f "$state" ] || return 0
  dir=$(cat "$state")
  rm -f "$state"
  case $dir in /tmp/tamsolt-linedb-*) ;; *) echo "not a test server folder: $dir"; return 1 ;; esac
  if [ -f "$dir/data/postmaster.pid" ]; then
    (cd "$dir" && $as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null) || true
  fi
  rm -rf "$dir"
}

case $action in
  start)
    stop  # a server left behind by a run that was killed
    dir=$(mktemp -d /tmp/tamsolt-linedb-XXXXXX)
    [ -z "$as_owner" ] || chown nobody:nogroup "$dir"
    cd "$dir"
    if ! $as_owner "$bin/initdb" -D "$dir/data" -U postgres --auth=trust -N -E UTF8 --locale=C \
        >"$dir/initdb.log" 2>&1; then
      cat "$dir/initdb.log"; rm -rf "$dir"; exit 1
    fi
    cat >>"$dir/data/postgresql.conf" <<CONF
listen_addresses = ''
unix_socket_directories = '$dir'
fsync = off
synchronous_commit = off
full_page_writes = off
CONF
    echo "$dir" >"$state"
    if ! $as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 start >/dev/null; then
      cat "$dir/server.log"; stop; exit 1
    fi
    echo "PostgreSQL test server on $dir"
    ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop STATE_FILE"; exit 2 ;;
esac
