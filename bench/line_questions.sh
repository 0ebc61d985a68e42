#!/usr/bin/env bash
# line_questions.sh: the line database's own questions over a line's year of
# boards, with the indexes of version 4 and without them. Prints figures.
#
#   bench/line_questions.sh [--boards N] [--runs N]
#
# Starts a throw-away PostgreSQL (a new cluster in a folder under /tmp, a
# Unix socket in that folder only, durability off: the data is thrown away),
# makes the tables with linedb/schema.sql and schema_v2.sql to schema_v4.sql
# in order, fills them on the server (generate_series, seeded by hashes of the
# board's number, so every run makes the same rows but for the dates: the
# year ends yesterday, so that "the last week" has boards), then VACUUM
# ANALYZE. Each question of docs/ledger.md ("Example queries" of the line
# database) runs once to warm up and then --runs times (default 5) through
# psql; the median is psql's own time (\timing: the query, its rows over the
# socket, their formatting) and the plan is EXPLAIN (ANALYZE, BUFFERS). The
# same again with the three indexes of version 4 dropped, then those indexes
# are made again (timed). The server is stopped and its folder removed on exit.
#
# The server refuses to run as root; under root its files belong to nobody and
# its programs run as nobody (psql still runs as the caller).
set -euo pipefail

boards=1000000
runs=5
usage() { echo "usage: $0 [--boards N] [--runs N]"; }
while [ $# -gt 0 ]; do
  case $1 in
    --boards) [ $# -ge 2 ] || { usage >&2; exit 2; }; boards=$2; shift 2 ;;
    --boards=*) boards=${1#*=}; shift ;;
    --runs) [ $# -ge 2 ] || { usage >&2; exit 2; }; runs=$2; shift 2 ;;
    --runs=*) runs=${1#*=}; shift ;;
    -h|--help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done
case $boards in ''|*[!0-9]*) usage >&2; exit 2 ;; esac
case $runs in ''|*[!0-9]*) usage >&2; exit 2 ;; esac
[ "$boards" -ge 1000 ] || { echo "--boards: at least 1000" >&2; exit 2; }
[ "$runs" -ge 1 ] || { echo "--runs: at least 1" >&2; exit 2; }

here=$(cd "$(dirname "$0")/.." && pwd)
for f in schema.sql schema_v2.sql schema_v3.sql schema_v4.sql; do
  [ -r "$here/linedb/$f" ] || { echo "no $here/linedb/$f" >&2; exit 1; }
done
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -n "$bin" ] && [ -x "$bin/initdb" ] && [ -x "$bin/pg_ctl" ] ||
  { echo "no PostgreSQL server under /usr/lib/postgresql: apt-get install postgresql" >&2; exit 1; }
psql_bin=$bin/psql

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

dir=$(mktemp -d /tmp/tamsolt-linequestions-XXXXXX)
as_owner=()
cleanup() {
  if [ -f "$dir/data/postmaster.pid" ]; then
    (cd "$dir" && "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1) || true
  fi
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

cd "$dir"
if ! "$bin/initdb" -D "$dir/data" -U postgres --auth=trust -N -E UTF8 --locale=C >"$dir/initdb.log" 2>&1; then
  if [ "$(id -u)" = 0 ] && grep -q "cannot be run as root" "$dir/initdb.log"; then
    echo "initdb refuses to run as root: the server runs as nobody, its folder $dir owned by nobody"
    as_owner=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
    rm -rf "$dir/data"
    chown nobody:nogroup "$dir"
    "${as_owner[@]}" "$bin/initdb" -D "$dir/data" -U postgres --auth=trust -N -E UTF8 --locale=C \
      >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }
  else
    cat "$dir/initdb.log" >&2
    exit 1
  fi
fi

# A port nothing listens on (the server itself listens on its socket only).
port=
for _ in $(seq 50); do
  p=$((20000 + RANDOM % 40000))
  if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then port=$p; break; fi
done
[ -n "$port" ] || { echo "no free port" >&2; exit 1; }

# fsync off and autovacuum off (the load is followed by its own VACUUM
# ANALYZE, and nothing should run beside the queries). Commits stay
# synchronous: VACUUM sets a row's hint bits only once its commit is flushed,
# and with them set no query of the benchmark writes pages; what the queries use
# (shared_buffers, work_mem, parallel workers) is PostgreSQL's default.
cat >>"$dir/data/postgresql.conf" <<CONF
listen_addresses = ''
port = $port
unix_socket_directories = '$dir'
timezone = 'UTC'
fsync = off
full_page_writes = off
max_wal_size = 8GB
checkpoint_timeout = 30min
autovacuum = off
maintenance_work_mem = 512MB
CONF
"${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 start >/dev/null ||
  { cat "$dir/server.log" >&2; exit 1; }

pg() { "$psql_bin" -X -q -v ON_ERROR_STOP=1 -h "$dir" -p "$port" -U postgres "$@"; }
pg -d postgres -c 'CREATE DATABASE line' >/dev/null
db() { pg -d line "$@"; }
value() { db -At -c "$1"; }

echo "PostgreSQL $(value 'SHOW server_version'), $(nproc) cores, $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo);" \
  "shared_buffers $(value 'SHOW shared_buffers'), work_mem $(value 'SHOW work_mem')," \
  "max_parallel_workers_per_gather $(value 'SHOW max_parallel_workers_per_gather'); fsync off, autovacuum off"
echo "load average $(cut -d' ' -f1-3 /proc/loadavg)"

# The tables, as a line database's owner makes them.
for f in schema.sql schema_v2.sql schema_v3.sql schema_v4.sql; do
  db -f "$here/linedb/$f" >/dev/null
done
echo "tables at version $(value 'SELECT max(version) FROM tamsolt_schema_version')"

# --- The year -------------------------------------------------------------
# bench_u(i, salt): a number in [0, 1) from a hash of the board's number, the
# same in every run. bench_gen: each board's draw (day, station, slot,
# outcome, where it stopped); boards and images are made from it.
db >/dev/null <<'SQL'
CREATE FUNCTION bench_u(bigint, integer) RETURNS double precision
  LANGUAGE sql IMMUTABLE PARALLEL SAFE
  AS $$ SELECT ((hashint8extended($1, $2) >> 11) & 9007199254740991)::double precision / 9007199254740992 $$;
-- A digest for version v of an image kind, 64 hex digits.
CREATE FUNCTION bench_sha(text, integer) RETURNS text
  LANGUAGE sql IMMUTABLE PARALLEL SAFE
  AS $$ SELECT md5($1 || ':' || $2) || md5($2 || ':' || $1) $$;
SQL

t_load=$(now)
t=$(now)
# The year's days up to yesterday (UTC), Saturdays two thirds and Sundays a
# third of a weekday, the boards of a day started between 06:00 and 22:00 in
# order; 20 stations of 32 slots; 96 % done, 1.5 % begin refused (7), 2 %
# given up at some item (8), 0.5 % interrupted (10).
db -v boards="$boards" >/dev/null <<'SQL'
CREATE UNLOGGED TABLE bench_gen AS
WITH days AS (
  SELECT d, date_trunc('day', now()) - interval '365 days' + d * interval '1 day' AS midnight,
         CASE extract(isodow FROM date_trunc('day', now()) - interval '365 days' + d * interval '1 day')
           WHEN 7 THEN 1.0 / 3 WHEN 6 THEN 2.0 / 3 ELSE 1.0 END AS w
  FROM generate_series(0, 364) d
), cumulative AS (
  SELECT d, midnight, w, sum(w) OVER (ORDER BY d) AS cw, sum(w) OVER () AS tw FROM days
), per_day AS (
  SELECT d, midnight, round(:boards * (cw - w) / tw)::bigint AS before,
         (round(:boards * cw / tw) - round(:boards * (cw - w) / tw))::integer AS n
  FROM cumulative
), drawn AS (
  SELECT p.before + k AS i, p.d AS day,
         p.midnight + interval '6 hours' + ((k - 1) + bench_u(p.before + k, 1)) * interval '16 hours' / p.n AS started,
         1 + floor(bench_u(p.before + k, 2) * 20)::integer AS station,
         floor(bench_u(p.before + k, 3) * 32)::integer AS slot,
         bench_u(p.before + k, 4) AS roll
  FROM per_day p, generate_series(1, p.n) k
)
SELECT i, day, started, station, slot,
       CASE WHEN roll < 0.96 THEN 0 WHEN roll < 0.975 THEN 7 WHEN roll < 0.995 THEN 8 ELSE 10 END AS code,
       CASE WHEN roll < 0.96 THEN 9 WHEN roll < 0.975 THEN 0 ELSE floor(bench_u(i, 5) * 9)::integer END AS failed_at,
       9 AS images
FROM drawn;
SQL
echo "drawn $boards boards in $(since "$t") s"

t=$(now)
db >/dev/null <<'SQL'
INSERT INTO boards (uuid, started_utc, finished_utc, seconds, station, slot, device, program, version,
                    operator, settings_path, settings_sha256, outcome_code, outcome, message,
                    received_utc, log_lost, recipe, recipe_version)
SELECT md5('board ' || i)::uuid, started, started + s * interval '1 second', s,
       'station-' || lpad(station::text, 2, '0'),
       '1-' || (1 + slot / 8) || '.' || (1 + slot % 8),
       '00' || (1 + slot / 8) || ':' || lpad((4 + i % 120)::text, 3, '0'),
       'tamsolt-cli', '1.0.8', CASE WHEN i % 3 = 0 THEN 'line2' ELSE 'line1' END,
       convert_to('/srv/tamsolt/setting.ini', 'UTF8'), bench_sha('settings', station),
       code,
       CASE code WHEN 0 THEN 'done' WHEN 7 THEN 'begin refused' WHEN 8 THEN 'transfer gave up' ELSE 'interrupted' END,
       CASE code WHEN 0 THEN '' ELSE 'the device stopped answering at item ' || (failed_at + 1) END,
       started + s * interval '1 second' + interval '2 seconds', false, 'line3', 1 + floor(day * 50 / 365.0)::integer
FROM (SELECT *, CASE WHEN code = 0 THEN 177 + 16 * bench_u(i, 6) ELSE 2 + 20 * failed_at + bench_u(i, 6) END AS s
      FROM bench_gen) g
ORDER BY i;
SQL
t_boards=$(since "$t")
echo "boards: $boards rows in $t_boards s"

# Nine images a board, each board's in one go (so a board's images lie
# together, as a station's transaction puts them). Each kind has versions
# over the year (HOST 50: a new host program every week or so), a station
# taking a new version up to three days after another; so ~160 digests in all.
t=$(now)
chunk=100000
for ((from = 1; from <= boards; from += chunk)); do
  db -v from="$from" -v to="$((from + chunk))" >/dev/null <<'SQL'
INSERT INTO images (board_id, kind, path, bytes, sha256, pinned, started_utc, finished_utc, result)
SELECT b.id, x.kind, convert_to('/srv/tamsolt/recipes/line3/' || x.kind || '.bin', 'UTF8'),
       x.bytes + 16 * x.v, bench_sha(x.kind, x.v), true,
       CASE WHEN k <= g.failed_at THEN b.started_utc + k * interval '20 seconds' END,
       CASE WHEN k <= g.failed_at THEN b.started_utc + (k + 1) * interval '20 seconds' END,
       CASE WHEN k < g.failed_at THEN 'written' WHEN k = g.failed_at THEN 'failed' ELSE 'not reached' END
FROM bench_gen g
JOIN boards b ON b.uuid = md5('board ' || g.i)::uuid
CROSS JOIN LATERAL generate_series(0, g.images - 1) k
CROSS JOIN LATERAL (
  SELECT (ARRAY['BOOT', 'HOST', 'RCDB', 'FONT', 'LANG', 'FV', 'BMP', 'PIC', 'TDB'])[k + 1] AS kind,
         (ARRAY[262274, 524418, 262144, 2097152, 1048576, 524288, 61494, 2097152, 1263])[k + 1] AS bytes,
         greatest(0, floor((g.day - g.station % 4) * (ARRAY[4, 50, 12, 2, 6, 24, 3, 8, 50])[k + 1] / 365.0))::integer AS v
) x
WHERE g.i >= :from AND g.i < :to
ORDER BY b.id, k;
SQL
done
t_images=$(since "$t")
images=$(value 'SELECT count(*) FROM images')
echo "images: $images rows in $t_images s"

t=$(now)
db -c 'DROP TABLE bench_gen' -c 'VACUUM (ANALYZE) boards' -c 'VACUUM (ANALYZE) images' >/dev/null
echo "VACUUM ANALYZE in $(since "$t") s; load $(since "$t_load") s in all (boards and images with every index in place)"
value "SELECT 'failed (outcome_code <> 0): ' || count(*) FILTER (WHERE outcome_code <> 0) || ' of ' || count(*)
              || ' boards; from ' || min(started_utc)::date || ' to ' || max(started_utc)::date FROM boards"
echo "distinct digests per kind: $(value "SELECT string_agg(kind || ' ' || n, ', ' ORDER BY min_id)
  FROM (SELECT kind, count(DISTINCT sha256) AS n, min(id) AS min_id FROM images GROUP BY kind) k")"
echo

echo "Sizes (table: heap with TOAST; each index):"
db -At -F $'\t' <<'SQL' | awk -F'\t' '{ printf "  %-24s %-7s %12s  %s\n", $1, $2, $3, $4 }'
SELECT c.relname, CASE c.relkind WHEN 'r' THEN 'table' ELSE 'index' END,
       to_char(CASE c.relkind WHEN 'r' THEN pg_table_size(c.oid) ELSE pg_relation_size(c.oid) END, 'FM999,999,999,999'),
       pg_size_pretty(CASE c.relkind WHEN 'r' THEN pg_table_size(c.oid) ELSE pg_relation_size(c.oid) END)
FROM pg_class c
WHERE c.relname IN ('boards', 'images')
   OR c.oid IN (SELECT indexrelid FROM pg_index WHERE indrelid IN ('boards'::regclass, 'images'::regclass))
ORDER BY (SELECT CASE WHEN c.relname LIKE 'images%' THEN 1 ELSE 0 END), c.relkind DESC, c.relname;
SELECT t || ' in all', '', to_char(pg_total_relation_size(t::regclass), 'FM999,999,999,999'),
       pg_size_pretty(pg_total_relation_size(t::regclass))
FROM unnest(ARRAY['boards', 'images']) t;
SQL
echo

# --- The questions --------------------------------------------------------
# A weekday: Wednesday of the week before this one.
day=$(value "SELECT (date_trunc('week', now()) - interval '5 days')::date")
# A host program in use in the middle of the year, as an engineer would paste it.
host=$(value "SELECT bench_sha('HOST', 25)")

names=("one day, per station ($day)" "failures of the last week" "every board that got a HOST image")
queries=(
"SELECT station,
       date_trunc('day', started_utc AT TIME ZONE 'UTC')::date AS day,
       count(*) AS boards,
       count(*) FILTER (WHERE outcome_code = 0) AS done,
       round(100.0 * count(*) FILTER (WHERE outcome_code = 0) / count(*), 1) AS yield_percent
FROM boards
WHERE started_utc >= '$day 00:00+00' AND started_utc < '$day 00:00+00'::timestamptz + interval '1 day'
GROUP BY station, day
ORDER BY day, station"
"SELECT outcome_code, outcome, station, slot, count(*)
FROM boards
WHERE outcome_code <> 0 AND started_utc > now() - interval '7 days'
GROUP BY outcome_code, outcome, station, slot
ORDER BY count(*) DESC"
"SELECT b.station, b.slot, b.started_utc, b.outcome
FROM boards b JOIN images i ON i.board_id = b.id
WHERE i.kind = 'HOST' AND i.result = 'written' AND i.sha256 = '$host'
ORDER BY b.started_utc"
)

# median_ms QUERY: one run to warm up, then $runs timed by psql.
median_ms() {
  {
    echo '\pset format unaligned'
    echo '\o /dev/null'
    echo "$1;"
    echo '\timing on'
    for ((r = 0; r < runs; r++)); do echo "$1;"; done
  } | db | sed -n 's/^Time: \([0-9.]*\) ms.*/\1/p' | sort -g |
    awk '{ v[NR] = $1 } END { if (NR == 0) exit 1; m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2;
                             printf "%.1f %.1f %.1f", m, v[1], v[NR] }'
}

# plan QUERY: rows returned, the plan's top node, how it reaches the tables,
# the top node's buffers and the execution time, from EXPLAIN (ANALYZE, BUFFERS).
plan() {
  local text top rows scans buffers exec
  text=$(db -At -c "EXPLAIN (ANALYZE, BUFFERS) $1")
  top=$(printf '%s\n' "$text" | head -n 1)
  rows=$(printf '%s\n' "$top" | sed -n 's/.*actual time=[^ ]* rows=\([0-9]*\) .*/\1/p')
  top=$(printf '%s\n' "$top" | sed 's/  *(cost=.*//')
  scans=$(printf '%s\n' "$text" | grep -E 'Scan' | sed -e 's/^[ ->]*//' -e 's/  *(cost=.*//' | paste -sd ';' | sed 's/;/; /g')
  buffers=$(printf '%s\n' "$text" | grep -m1 'Buffers:' | sed 's/^ *Buffers: //')
  exec=$(printf '%s\n' "$text" | sed -n 's/^Execution Time: \([0-9.]*\) ms/\1/p')
  printf '%s\t%s\t%s\t%s\t%s\n' "$rows" "$top" "$scans" "$buffers" "$exec"
}

ask_all() {
  local n
  for n in 0 1 2; do
    local p m rows top scans buffers exec median fastest slowest
    m=$(median_ms "${queries[$n]}")
    read -r median fastest slowest <<<"$m"
    p=$(plan "${queries[$n]}")
    IFS=$'\t' read -r rows top scans buffers exec <<<"$p"
    printf '  %s\n' "${names[$n]}"
    printf '    rows %s; median %s ms (fastest %s, slowest %s, %s runs); EXPLAIN ANALYZE %s ms\n' \
      "$rows" "$median" "$fastest" "$slowest" "$runs" "$exec"
    printf '    top node: %s\n' "$top"
    printf '    scans: %s\n' "$scans"
    printf '    buffers: %s\n' "$buffers"
  done
}

echo "The questions, with the indexes of version 4 (host program $host):"
ask_all
echo

db -c 'DROP INDEX boards_started, boards_failed_started, images_sha256' >/dev/null
echo "The same without boards_started, boards_failed_started and images_sha256 (version 3's indexes only):"
ask_all
echo

t=$(now)
db -f "$here/linedb/schema_v4.sql" >/dev/null
echo "linedb/schema_v4.sql again (the three indexes made on the full tables): $(since "$t") s"
echo "load average $(cut -d' ' -f1-3 /proc/loadavg)"

# --- The line page's first load ---------------------------------------------
# Twenty stations of 16 slots live (version 6), and tamsolt-line over these
# boards: the page, its script and style, and its first two questions, as a
# browser asks them on opening the page (curl, one after another), --runs times.
line=${TAMSOLT_LINE:-$here/build/bin/tamsolt-line}
if [ ! -x "$line" ]; then
  echo "no $line (scripts/build.sh build): the line page's first load is not measured"
  exit 0
fi
for f in schema_v5.sql schema_v6.sql; do PGOPTIONS="-c client_min_messages=warning" db -f "$here/linedb/$f" >/dev/null; done
db >/dev/null <<'SQL'
INSERT INTO line_stations (station, program_version, started_utc, heartbeat_utc)
  SELECT 'station-' || lpad(s::text, 2, '0'), '1.1.0', now(), now() FROM generate_series(1, 20) s;
INSERT INTO line_slots (station, slot, name, state, item, percent, text, since_utc)
  SELECT 'station-' || lpad(s::text, 2, '0'), '1-1.' || p, 'A' || p, 'writing', 'FV', 40, 'writing FV 40%', now()
  FROM generate_series(1, 20) s, generate_series(1, 16) p;
SQL
printf '[line]\r\nurl=host=%s port=%s user=postgres dbname=line\r\nport=0\r\n' "$dir" "$port" >"$dir/line.ini"
"$line" --settings "$dir/line.ini" >"$dir/line.out" &
line_pid=$!
trap 'kill $line_pid 2>/dev/null || true; cleanup' EXIT
for _ in $(seq 100); do grep -q 'http://' "$dir/line.out" && break; sleep 0.1; done
page=$(grep -o 'http://[0-9.]*:[0-9]*/' "$dir/line.out")
first_load() {
  local t
  t=$(now)
  for path in "" line.js line.css api/v1/stations api/v1/recipes; do
    curl --noproxy '*' -sf -o /dev/null "$page$path"
  done
  since_ms "$t"
}
since_ms() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.0f\n", (b - a) * 1000 }'; }
first_load >/dev/null
loads=$(for ((r = 0; r < runs; r++)); do first_load; done | sort -n)
echo "The line page's first load ($boards boards, 20 stations of 16 slots): median $(sed -n "$(( (runs + 1) / 2 ))p" <<<"$loads") ms" \
  "(fastest $(head -n 1 <<<"$loads"), slowest $(tail -n 1 <<<"$loads"), $runs runs; the stations' answer $(curl --noproxy '*' -sf "${page}api/v1/stations" | wc -c) bytes)"

# --- The line page live -----------------------------------------------------
# The twenty stations publish as a busy line does (tamsolt-bench-line-publishers:
# a publisher each, with its own connection and thread, each slot changing
# once a second: 320 changes a second), while the page is open in one window
# of chromium, then in 10 (bench/line_pages.py): each change's time from its
# station to every page, and the CPU the service, the server and the browser use.
publishers=${TAMSOLT_LINE_PUBLISHERS:-$here/build/bin/tamsolt-bench-line-publishers}
if [ ! -x "$publishers" ] || ! /usr/bin/python3 -c "import selenium" 2>/dev/null || [ ! -x /usr/bin/chromium ]; then
  echo "no $publishers, python3-selenium or chromium (scripts/setup.sh): the live page is not measured"
  exit 0
fi
"$publishers" "host=$dir port=$port user=postgres dbname=line" --seconds 100 >"$dir/publishers.out" &
publishers_pid=$!
trap 'kill $line_pid $publishers_pid 2>/dev/null || true; cleanup' EXIT
# One page (a line leader's browser on its own machine), then ten pages in
# one browser on this machine, beside the service and the server.
/usr/bin/python3 "$here/bench/line_pages.py" "$page" 1 30 "$line_pid"
/usr/bin/python3 "$here/bench/line_pages.py" "$page" 10 30 "$line_pid"
wait "$publishers_pid"
cat "$dir/publishers.out"
echo "load average $(cut -d' ' -f1-3 /proc/loadavg)"
