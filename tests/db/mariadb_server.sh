#!/usr/bin/env bash
# A throw-away MariaDB server for the database tests, on a socket of its own (no TCP).
#   mariadb_server.sh start STATE_DIR   install a data folder + start
#   mariadb_server.sh stop  STATE_DIR   stop and delete it
# STATE_DIR/env receives MYSOCKET, MYROOT, PW_MY_USER and PW_MY_PASSWORD for the tests.
# The server keeps MariaDB's default SQL mode: backslashes escape inside literals.
# It runs as an unprivileged user: the caller itself, or "mysql" when run as root.
set -euo pipefail

action=${1:?action}
state=${2:?state dir}
user=pellwick
password='pw;secret'

state_value() {
  sed -n "s/^$1=//p" "$state/env"
}

case "$action" in
start)
  mkdir -p "$state"
  [ -f "$state/env" ] && { bash "$0" stop "$state" || true; }
  root=$(mktemp -d /tmp/pellwick-my-XXXXXX)
  chmod 755 "$root"
  owner=$(id -un)
  if [ "$(id -u)" = 0 ]; then owner=mysql; chown mysql "$root"; fi
  mariadb-install-db --no-defaults --user="$owner" --datadir="$root/data" --auth-root-authentication-method=normal \
    --skip-test-db >"$root/install.log" 2>&1 || { cat "$root/install.log" >&2; exit 1; }
  mariadbd --no-defaults --user="$owner" --datadir="$root/data" --socket="$root/sock" --skip-networking \
    --pid-file="$root/pid" --log-error="$root/server.log" --innodb-flush-log-at-trx-commit=0 \
    --character-set-server=utf8mb4 --collation-server=utf8mb4_bin >/dev/null 2>&1 &
  for _ in $(seq 300); do
    [ -S "$root/sock" ] && mariadb-admin --no-defaults -uroot --socket="$root/sock" ping >/dev/null 2>&1 && break
    sleep 0.1
  done
  mariadb --no-defaults -uroot --socket="$root/sock" -e "create database pellwick;
    create user '$user'@'localhost' identified by '$password';
    grant all on pellwick.* to '$user'@'localhost';" || { cat "$root/server.log" >&2; exit 1; }
  cat > "$state/env" <<EOT
MYSOCKET=$root/sock
MYROOT=$root
PW_MY_USER=$user
PW_MY_PASSWORD=$password
EOT
  ;;
stop)
  [ -f "$state/env" ] || exit 0
  root=$(state_value MYROOT)
  if [ -n "$root" ] && [ -f "$root/pid" ]; then
    pid=$(cat "$root/pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  [ -n "$root" ] && rm -rf "$root"
  rm -f "$state/env"
  ;;
*)
  echo "usage: $0 start|stop STATE_DIR" >&2
  exit 2
  ;;
esac
