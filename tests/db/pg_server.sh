#!/usr/bin/env bash
# A throw-away PostgreSQL server for the database tests.
#   pg_server.sh start   STATE_DIR   initdb + start on a free loopback port
#   pg_server.sh restart STATE_DIR   fast restart (drops every client connection)
#   pg_server.sh stop    STATE_DIR   stop and delete the cluster
# STATE_DIR/env receives PGPORT, PGHOST, PGROOT, PW_PG_USER, PW_PG_PASSWORD and
# PW_PG_SCRIPT (this script) for the tests, one KEY=value a line.
# The server runs as an unprivileged user: the caller itself, or "postgres" when run as root.
set -euo pipefail

action=${1:?action}
state=${2:?state dir}
bindir=${PW_PG_BINDIR:-/usr/lib/postgresql/15/bin}
user=pellwick
password='pw;secret'

as_owner() {
  if [ "$(id -u)" = 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

# A value of the state file (read as text: the password holds a ';').
state_value() {
  sed -n "s/^$1=//p" "$state/env"
}

port_in_use() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

case "$action" in
start)
  mkdir -p "$state"
  if [ -f "$state/env" ]; then
    # A server left over from an interrupted run.
    bash "$0" stop "$state" || true
  fi
  root=$(mktemp -d /tmp/pellwick-pg-XXXXXX)
  chmod 755 "$root"
  [ "$(id -u)" = 0 ] && chown postgres "$root"
  printf '%s\n' "$password" > "$root/pwfile"
  chmod 644 "$root/pwfile"
  as_owner "$bindir/initdb" -D "$root/data" -U "$user" --pwfile="$root/pwfile" \
    --auth=scram-sha-256 -E UTF8 --locale=C.UTF-8 >"$root/initdb.log" 2>&1 \
    || { cat "$root/initdb.log" >&2; exit 1; }
  for attempt in 1 2 3 4 5 6 7 8; do
    port=$(( 20000 + RANDOM % 30000 ))
    port_in_use "$port" && continue
    if as_owner "$bindir/pg_ctl" -D "$root/data" -l "$root/server.log" -w -t 30 \
        -o "-c listen_addresses=127.0.0.1 -p $port -k $root -c fsync=off" start >/dev/null; then
      cat > "$state/env" <<EOT
PGHOST=127.0.0.1
PGPORT=$port
PGROOT=$root
PW_PG_USER=$user
PW_PG_PASSWORD=$password
PW_PG_SCRIPT=$(realpath "$0")
EOT
      PGPASSWORD=$password "$bindir/psql" -h 127.0.0.1 -p "$port" -U "$user" -d postgres -qc \
        "create database pellwick" >/dev/null
      exit 0
    fi
  done
  cat "$root/server.log" >&2
  rm -rf "$root"
  exit 1
  ;;
restart)
  root=$(state_value PGROOT)
  as_owner "$bindir/pg_ctl" -D "$root/data" -l "$root/server.log" -w -t 30 -m fast restart >/dev/null
  ;;
stop)
  [ -f "$state/env" ] || exit 0
  root=$(state_value PGROOT)
  if [ -n "$root" ] && [ -d "$root/data" ]; then
    as_owner "$bindir/pg_ctl" -D "$root/data" -w -t 30 -m immediate stop >/dev/null 2>&1 || true
  fi
  [ -n "$root" ] && rm -rf "$root"
  rm -f "$state/env"
  ;;
*)
  echo "usage: $0 start|restart|stop STATE_DIR" >&2
  exit 2
  ;;
esac
