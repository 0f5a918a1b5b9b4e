#!/usr/bin/env bash
# Messages per minute and statements per message of 1, 3 and 6 gateways sharing one
# PostgreSQL outbox, each with its own simulator, retry interval 0, claims as the manual
# gives them.
#   bench/shared_outbox.sh [BIN_DIR [ROWS [SUBMIT_MS [COUNTS]]]]   BIN_DIR holds pellwick and modemsim (default build/bin)
# SUBMIT_MS delays the simulator's answer to each submission, as a network would (0: none).
# COUNTS lists the numbers of gateways to run, "1 3 6" by default. Statements are the
# database's committed transactions (every statement of the gateways commits on its own),
# less the script's own queries, and include the gateways' polls while the rows are sent.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$(realpath "${1:-build/bin}")
rows=${2:-300}
submit_ms=${3:-0}
counts=${4:-1 3 6}
work=$(mktemp -d /tmp/pellwick-bench-XXXXXX)
chmod 755 "$work"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  bash tests/db/pg_server.sh stop "$work/pg" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

bash tests/db/pg_server.sh start "$work/pg" >/dev/null
value() { sed -n "s/^$1=//p" "$work/pg/env"; }
port=$(value PGPORT) user=$(value PW_PG_USER) password=$(value PW_PG_PASSWORD)
lib=/usr/lib/x86_64-linux-gnu/odbc
printf '[PostgreSQL Unicode]\nDriver=%s/psqlodbcw.so\n' "$lib" > "$work/odbcinst.ini"
printf '[Bench]\nDriver=PostgreSQL Unicode\nServername=127.0.0.1\nPort=%s\nDatabase=pellwick\nSSLmode=disable\n' \
  "$port" > "$work/odbc.ini"
export ODBCSYSINI=$work ODBCINI=$work/odbc.ini
sql() { PGPASSWORD=$password psql -h 127.0.0.1 -p "$port" -U "$user" -d pellwick -qAtc "$1"; }
sql "create table smsout(msgid serial primary key, phone text, msgbody text, status int default 0,
     owner text, claimed timestamp)"

for n in $counts; do
  sql "truncate smsout"
  for i in $(seq "$n"); do
    home=$work/g$n-$i
    mkdir -p "$home"
    "$bin/modemsim" --link "$home/COM1" --control "$home/COM1.ctl" & pids+=($!)
    until [ -S "$home/COM1.ctl" ]; do sleep 0.1; done
    if ((submit_ms > 0)); then
      "$bin/modemsim" --control "$home/COM1.ctl" --request "FAULT CMGS 1000000 late $submit_ms" >/dev/null
    fi
    "$bin/pellwick" -home "$home" -set dsn=Bench db_user="$user" db_password="$password" baud_rate=115200 \
      retry_interval=0 query_interval=1 sending_period=0 \
      "claim_sql=update smsout set status=2, owner='<INSTANCE>', claimed=now() where msgid='<MSGID>' and status=0" \
      "release_sql=update smsout set status=0, owner=null where msgid='<MSGID>' and owner='<INSTANCE>' and status=2" \
      "update_sql=update smsout set status=<RESULT> where msgid='<MSGID>' and owner='<INSTANCE>'" >/dev/null
    DISPLAY= DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent "$bin/pellwick" -home "$home" -win9x \
      >/dev/null 2>&1 & pids+=($!)
  done
  sleep 5  # the gateways link up before the rows arrive
  commits() { sql "select xact_commit from pg_stat_database where datname = 'pellwick'"; }
  sql "select pg_stat_clear_snapshot()" >/dev/null
  before=$(commits)
  own=2  # the counter's query and the insert
  start=$(date +%s.%N)
  sql "insert into smsout(phone, msgbody) select '+491', 'bench ' || i from generate_series(1, $rows) as i"
  until [ "$(sql "select count(*) from smsout where status in (0, 2)")" = 0 ]; do sleep 0.2; own=$((own + 1)); done
  end=$(date +%s.%N)
  # A server process reports its statistics when it ends at the latest.
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  pids=()
  sleep 1
  statements=$(( $(commits) - before - own - 1 ))
  per_gateway=$(sql "select string_agg(n::text, '/' order by owner) from (select owner, count(*) as n from smsout group by owner) c")
  awk -v n="$n" -v rows="$rows" -v s="$start" -v e="$end" -v per="$per_gateway" -v st="$statements" \
    'BEGIN { printf "%d gateway(s): %d messages in %.1f s = %.0f messages/min, %.2f statements/message (per gateway %s)\n", n, rows, e - s, rows * 60 / (e - s), st / rows, per }'
done
