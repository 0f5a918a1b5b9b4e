#!/usr/bin/env bash
# Installs what is missing, builds, and runs the gateway on its embedded defaults:
# the demonstration data source DADIvav (SQLite) registered in a local ODBC folder and
# the modem simulator on a pty as COM1 beside the executable. It sends one sample
# outbox row, shows it sent, and keeps the gateway running until Ctrl+C. The HTTP
# interface listens on loopback (127.0.0.1:8470, or the next free port) with a fresh
# random token; its address and token are printed.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
bash scripts/setup.sh
BUILD=${BUILD:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target pellwick modemsim manual

DEMO=$ROOT/$BUILD/demo
mkdir -p "$DEMO/odbc"
# The window module is loaded from beside the executable.
cp --remove-destination "$BUILD/bin/pellwick" "$BUILD/bin/libpellwick-window.so" "$BUILD/bin/modemsim" \
  "$BUILD/bin/PellwickManual.html" "$DEMO/"

# A local ODBC configuration: the SQLite driver, and the data source -install writes.
export ODBCSYSINI=$DEMO/odbc
export ODBCINI=$DEMO/odbc/odbc.ini
driver=$(dpkg -L libsqliteodbc | grep '/libsqlite3odbc.so$' | head -n1)
printf '[SQLite3]\nDriver=%s\n' "$driver" > "$ODBCSYSINI/odbcinst.ini"
touch "$ODBCINI"

cleanup() {
  [ -n "${GATEWAY:-}" ] && kill "$GATEWAY" 2>/dev/null && wait "$GATEWAY" 2>/dev/null
  [ -n "${MODEM:-}" ] && kill "$MODEM" 2>/dev/null && wait "$MODEM" 2>/dev/null
  true
}
trap cleanup EXIT
trap 'exit 0' INT TERM

cd "$DEMO"
echo "== pellwick -install (data source DADIvav, database DADIvav.db; the service part needs systemd)"
./pellwick -install || true

# The default sending window is 09:00-17:00; the demo sends at any hour.
./pellwick -set sending_period=0

# The HTTP interface: the first free loopback port from 8470, a new token each run (given
# on standard input, so it shows in no process list).
HTTP_PORT=8470
while (exec 3<>"/dev/tcp/127.0.0.1/$HTTP_PORT") 2>/dev/null; do HTTP_PORT=$((HTTP_PORT + 1)); done
HTTP_TOKEN=$(od -An -tx1 -N16 /dev/urandom | tr -d ' \n')
./pellwick -set "http_listen=127.0.0.1:$HTTP_PORT"
echo "$HTTP_TOKEN" | ./pellwick -set http_token=-

echo "== modem simulator on a pty as $DEMO/COM1"
./modemsim --link "$DEMO/COM1" --record "$DEMO/modemsim.record" & MODEM=$!
for _ in $(seq 50); do [ -e COM1.ctl ] && break; sleep 0.1; done

echo "== gateway in the foreground (log: $DEMO/Pellwick.log)"
./pellwick -debug & GATEWAY=$!

id=$(sqlite3 DADIvav.db "insert into smsout(phone, msgbody) values('+4917012345678', 'Hello from Orvane Pellwick'); select last_insert_rowid();")
echo "== outbox row $id inserted; waiting for the gateway to send it"
for _ in $(seq 120); do
  status=$(sqlite3 DADIvav.db "select status from smsout where msgid=$id")
  [ "$status" != 0 ] && break
  sleep 0.5
done
echo "smsout row $id: status $status  (1 = sent, -1 = failed, -2 = unknown)"
echo "== PDUs the simulated modem received:"
./modemsim --control "$DEMO/COM1.ctl" --request SUBMITTED || true
echo "== HTTP interface: http://127.0.0.1:$HTTP_PORT/  token: $HTTP_TOKEN"
echo "   (the page in a browser: any user name, the token as password)"
echo "   curl -H 'Authorization: Bearer $HTTP_TOKEN' -d '{\"to\": \"+4917012345678\", \"text\": \"Hello\"}' http://127.0.0.1:$HTTP_PORT/v1/messages"
echo "== the gateway keeps running; Ctrl+C ends it"
wait "$GATEWAY"
